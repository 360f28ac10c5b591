// The sky: a window of the panorama, one sky column per angle step, copied
// into the view rows from the top down to the horizon row.
#include <algorithm>
#include <cassert>
#include <cstdint>

#include "core/world.h"

void World::DrawSky(BITMAP* view, float x, float y, int height, int angle, int horizon) const
{
    // The sky stays where it is whatever the viewer's position and height.
    (void)x;
    (void)y;
    (void)height;
    assert(view && "DrawSky needs a view");
    assert(angle >= 0 && angle < AngleSteps && "the heading must lie within 0..2879");
    if (!view || angle < 0 || angle >= AngleSteps || horizon < 0)
        return;

    // View row j (0..horizon) shows sky row skyHeight - horizon - 1 + j: the
    // sky's bottom row lies on the horizon row. Rows below the view are not
    // there to be drawn. Kept in 64 bits so that no horizon overflows.
    const int64_t lastRow = std::min<int64_t>(horizon, view->h - 1);
    const int64_t skyHeight = Sky && Sky->w > 0 ? Sky->h : 0;
    const int64_t skyTop = skyHeight - horizon - 1;  // sky row at view row 0
    // A sky lower than horizon + 1 rows leaves view rows above it; they are
    // cleared every frame, so that nothing of an earlier frame stays there.
    const int64_t firstSkyRow = std::min(lastRow + 1, std::max<int64_t>(0, -skyTop));
    if (firstSkyRow > 0)
        rectfill(view, 0, 0, view->w - 1, static_cast<int>(firstSkyRow - 1), 0);
    if (firstSkyRow > lastRow)
        return;

    const int sourceRow = static_cast<int>(skyTop + firstSkyRow);
    const int rows = static_cast<int>(lastRow - firstSkyRow + 1);
    const int skyWidth = Sky->w;
    // View column v shows sky column (2880 - angle + v) mod skyWidth: the
    // window runs from 2880 - angle to the sky's right edge and on from its
    // column 0. On a panorama of 2880 columns or more that is one copy, or
    // two where the window crosses the seam; a narrower sky repeats as often
    // as the window needs.
    int source = (AngleSteps - angle) % skyWidth;
    for (int column = 0; column < view->w;) {
        const int run = std::min(view->w - column, skyWidth - source);
        blit(Sky.get(), view, source, sourceRow, column, static_cast<int>(firstSkyRow), run, rows);
        column += run;
        source = 0;
    }
}
