// The whole map seen from above: every ground point of the 64 x 64 cells,
// read through the same texel table as the ground renderer, so that each
// pixel is a texel the ground renderer shows at that point.
#pragma once

#include "core/world.h"

constexpr int MapSide = MapSize * CellSize;  // 2048 world units, and pixels at scale 1

// Side of the picture of the map at `scale` (a whole factor down from 2048).
inline int MapViewSide(int scale)
{
    return MapSide / scale;
}

// Draws the map into `out`, a 2-byte memory bitmap at least MapViewSide(scale)
// square, from its top-left corner: +x to the right, +y down. Pixel (i, j)
// shows the ground point (scale * i + scale / 2, scale * j + scale / 2), the
// middle of the square it stands for, at every cell's current frame. Returns
// false (drawing nothing) when `scale` does not divide 2048 or `out` is
// unusable.
bool DrawMapView(const World& world, BITMAP* out, int scale);
