// One frame of the viewer's picture: where the view lies in the 640 x 480
// back buffer, how it is drawn, and a back buffer of its own for programs
// that draw without a display.
#pragma once

#include "world.h"

constexpr int FrameWidth = 640;    // the back buffer, and the frame picture
constexpr int FrameHeight = 480;
constexpr int ViewLeft = 10;       // the view's place in the back buffer
constexpr int ViewTop = 8;
constexpr int ViewWidth = 480;
constexpr int ViewRows = 180;
// Beside the view, the frame picture's box for the map from above: two
// pixels a cell, each the middle texel of its 16 x 16 square.
constexpr int MapBoxLeft = 500;
constexpr int MapBoxTop = 34;
constexpr int MapBoxScale = 16;
constexpr int MapBoxSide = MapSize * CellSize / MapBoxScale;  // 128
constexpr int ViewHeightIndex = 14;  // the viewer's height: an index into ViewHeight
constexpr int Horizon = 100;         // the view row of the horizon

// Carves the view out of a 640 x 480 back buffer; it shares the back
// buffer's pixels and must be destroyed before it.
BitmapPtr MakeView(BITMAP* backbuffer);

// Draws one frame into the view: the sky down to the horizon row, then the
// ground below it, for the viewer at (x, y) with the given height index and
// heading. The view's last row is left as it is.
void DrawView(World& world, BITMAP* view, float x, float y, int height, int angle);

// A back buffer cleared to colour 0 with the view carved out of it, for
// drawing without a display. The view goes first when it is destroyed.
struct OffscreenFrame {
    BitmapPtr Backbuffer;
    BitmapPtr View;
};
// Null bitmaps when the memory for them cannot be had.
OffscreenFrame MakeOffscreenFrame();
