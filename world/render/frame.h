// One frame of the viewer's picture: where the view lies in the 640 x 480
// back buffer, how it is drawn, and a back buffer of its own for programs
// that draw without a display.
#pragma once

#include "core/view_geometry.h"
#include "core/world.h"
#include "render/fast/ground_fast.h"

// Beside the view, the frame picture's box for the map from above: two
// pixels a cell, each the middle texel of its 16 x 16 square.
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
