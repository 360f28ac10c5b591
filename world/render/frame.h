// One frame of the viewer's picture: where the view lies in the 640 x 480
// back buffer, how it is drawn, and a back buffer of its own for programs
// that draw without a display.
#pragma once

#include <string>
#include <vector>

#include "core/view_geometry.h"
#include "core/world.h"
#include "render/fast/ground_fast.h"

// Beside the view, the frame picture's box for the map from above: two
// pixels a cell, each a 16 x 16 square of the ground.
constexpr int MapBoxLeft = 500;
constexpr int MapBoxTop = 34;
constexpr int MapBoxScale = 16;
constexpr int MapBoxSide = MapSize * CellSize / MapBoxScale;  // 128

// Carves the view out of a 640 x 480 back buffer; it shares the back
// buffer's pixels and must be destroyed before it.
BitmapPtr MakeView(BITMAP* backbuffer);

// Draws one frame into the view: the sky down to the horizon row, then the
// ground below it, for the viewer at (x, y) with the given height index and
// heading, the ground by `ground`. The view's last row is left as it is.
void DrawView(const World& world, GroundRenderer& ground, BITMAP* view, float x, float y, int height, int angle);

// A back buffer cleared to colour 0 with the view carved out of it, for
// drawing without a display. The view goes first when it is destroyed.
struct OffscreenFrame {
    BitmapPtr Backbuffer;
    BitmapPtr View;
};
// Null bitmaps when the memory for them cannot be had.
OffscreenFrame MakeOffscreenFrame();

// What a frame showing a map of one's own adds to the frame picture.

// Where the viewer stands, drawn into `box` (the map from above at `scale`,
// its top-left corner at world (0, 0)): a dot at the position and a line
// pointing along the heading. A position off the map draws nothing.
void DrawPositionMarker(BITMAP* box, float x, float y, int angle, int scale);

// The world point under the frame point (fx, fy) (fractions of a pixel
// allowed, for a window scaled up); false when it lies outside the map box.
bool MapBoxPoint(double fx, double fy, float& x, float& y);

// The status lines, in the band across the bottom of the frame, in the
// built-in font: at most StatusLines lines of StatusColumns characters,
// longer ones cut. An alarm line is drawn in red.
constexpr int StatusLeft = 10;
constexpr int StatusTop = 414;
constexpr int StatusWidth = 620;
constexpr int StatusLineHeight = 12;
constexpr int StatusLines = 5;
constexpr int StatusHeight = StatusLines * StatusLineHeight + 4;  // to 478
constexpr int StatusColumns = (StatusWidth - 8) / 8;
struct StatusLine {
    std::string Text;
    bool Alarm = false;
};
void DrawStatus(BITMAP* backbuffer, const std::vector<StatusLine>& lines);
// The colour of an alarm line's letters, at the current colour depth.
int StatusAlarmColour();

// Presents the 640 x 480 back buffer on the screen, each pixel a
// `scale` x `scale` square.
void PresentFrame(BITMAP* backbuffer, int scale);
