// The whole map seen from above: every ground point of the 64 x 64 cells,
// read through the same texel table as the ground renderer, so that each
// pixel is a texel the ground renderer shows at that point.
#pragma once

#include <cstdint>
#include <map>
#include <utility>

#include "core/world.h"
#include "render/ground.h"  // Required for: TexelSource

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

// The map from above as a map maker reads it: each pixel the average colour
// of the cell it lies in, at the cell's current frame, so that a tile of
// fine detail shows its overall colour rather than one texel of it. The
// averages of each tile frame are kept from draw to draw; Forget() them
// when the World's images are replaced.
class MapAverages {
public:
    // Draws into `out` as DrawMapView does; false, drawing nothing, in the
    // same cases.
    bool Draw(const World& world, BITMAP* out, int scale);
    void Forget() { Averages.clear(); }

private:
    // The average of the 32 x 32 texels `source` leads to, as a pixel of
    // `depth` bits.
    uint16_t AverageOf(const TexelSource& source, int depth);

    std::map<std::pair<const uint16_t*, int32_t>, uint16_t> Averages;
};
