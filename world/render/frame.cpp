// One frame of the viewer's picture, shared by the viewer and the tools that
// render without a display, so that both draw exactly the same thing.
#include "render/frame.h"

#include "render/map_view.h"  // Required for: MapSide

BitmapPtr MakeView(BITMAP* backbuffer)
{
    return BitmapPtr(create_sub_bitmap(backbuffer, ViewLeft, ViewTop, ViewWidth, ViewRows));
}

void DrawView(const World& world, GroundRenderer& ground, BITMAP* view, float x, float y, int height, int angle)
{
    world.DrawSky(view, x, y, height, angle, Horizon);
    ground.Draw(world, view, x, y, height, angle, Horizon);
}

OffscreenFrame MakeOffscreenFrame()
{
    OffscreenFrame frame;
    frame.Backbuffer.reset(create_bitmap(FrameWidth, FrameHeight));
    if (!frame.Backbuffer)
        return frame;
    clear_to_color(frame.Backbuffer.get(), 0);
    frame.View = MakeView(frame.Backbuffer.get());
    if (!frame.View)
        frame.Backbuffer.reset();
    return frame;
}

void DrawPositionMarker(BITMAP* box, float x, float y, int angle, int scale)
{
    if (!(x >= 0 && x < MapSide && y >= 0 && y < MapSide) || angle < 0 || angle >= AngleSteps || scale < 1)
        return;
    const int cx = static_cast<int>(x) / scale;
    const int cy = static_cast<int>(y) / scale;
    // Step 720 points along -y, up the picture.
    constexpr float Reach = 11.0f;
    const int ex = cx + static_cast<int>(CosTable[angle] * Reach + (CosTable[angle] < 0 ? -0.5f : 0.5f));
    const int ey = cy - static_cast<int>(SinTable[angle] * Reach + (SinTable[angle] < 0 ? -0.5f : 0.5f));
    const int black = makecol(0, 0, 0);
    const int yellow = makecol(255, 230, 40);
    // Drawn through Allegro, so that the box's clipping keeps it inside.
    for (int dx = -1; dx <= 1; dx++)
        for (int dy = -1; dy <= 1; dy++)
            line(box, cx + dx, cy + dy, ex + dx, ey + dy, black);
    line(box, cx, cy, ex, ey, yellow);
    circlefill(box, cx, cy, 4, black);
    circlefill(box, cx, cy, 3, yellow);
}

bool MapBoxPoint(double fx, double fy, float& x, float& y)
{
    const double bx = fx - MapBoxLeft;
    const double by = fy - MapBoxTop;
    if (!(bx >= 0 && bx < MapBoxSide && by >= 0 && by < MapBoxSide))
        return false;
    x = static_cast<float>(bx * MapBoxScale);
    y = static_cast<float>(by * MapBoxScale);
    return true;
}

int StatusAlarmColour()
{
    return makecol(255, 70, 60);
}

void DrawStatus(BITMAP* backbuffer, const std::vector<StatusLine>& lines)
{
    rectfill(backbuffer, StatusLeft, StatusTop, StatusLeft + StatusWidth - 1, StatusTop + StatusHeight - 1,
             makecol(16, 20, 32));
    rect(backbuffer, StatusLeft, StatusTop, StatusLeft + StatusWidth - 1, StatusTop + StatusHeight - 1,
         makecol(96, 104, 128));
    const int text = makecol(230, 230, 210);
    const int alarm = StatusAlarmColour();
    for (size_t i = 0; i < lines.size() && i < size_t(StatusLines); ++i) {
        std::string shown = lines[i].Text;
        if (shown.size() > size_t(StatusColumns))
            shown = shown.substr(0, StatusColumns - 3) + "...";
        textout_ex(backbuffer, font, shown.c_str(), StatusLeft + 4, StatusTop + 4 + static_cast<int>(i) * StatusLineHeight,
                   lines[i].Alarm ? alarm : text, -1);
    }
}

void PresentFrame(BITMAP* backbuffer, int scale)
{
    if (scale <= 1)
        blit(backbuffer, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    else
        stretch_blit(backbuffer, screen, 0, 0, backbuffer->w, backbuffer->h, 0, 0, backbuffer->w * scale,
                     backbuffer->h * scale);
}
