// The map from above: for each pixel one ground point, and the texel the
// ground renderer would copy for it.
#include "render/map_view.h"

#include "render/ground.h"  // Required for: BuildTexelSources(), CellSource()

// Writes each pixel of the map from above at `scale` into `out`, as
// pixel(source, gx, gy) gives it for the ground point (gx, gy) at its middle
// and the texels of the cell there. False, drawing nothing, when `out` is
// not a 15- or 16-bit memory bitmap of at least that size.
template <typename Pixel>
static bool DrawEachPoint(const World& world, BITMAP* out, int scale, Pixel pixel)
{
    if (scale < 1 || MapSide % scale != 0)
        return false;
    const int side = MapViewSide(scale);
    const int depth = out ? bitmap_color_depth(out) : 0;
    if (!out || !is_memory_bitmap(out) || (depth != 15 && depth != 16) || out->w < side || out->h < side)
        return false;

    TexelSources sources;
    BuildTexelSources(world, sources);
    for (int j = 0; j < side; ++j) {
        // Written row by row through line[], so any memory bitmap will do.
        uint16_t* dest = reinterpret_cast<uint16_t*>(out->line[j]);
        const int gy = scale * j + scale / 2;
        for (int i = 0; i < side; ++i) {
            const int gx = scale * i + scale / 2;
            dest[i] = pixel(sources[CellSource(gx >> 5, gy >> 5)], gx, gy);
        }
    }
    return true;
}

bool DrawMapView(const World& world, BITMAP* out, int scale)
{
    // The same lookup as the ground renderer's inner loop.
    return DrawEachPoint(world, out, scale, [](const TexelSource& source, int gx, int gy) {
        return source.Texels[(gy & 31) * source.Pitch + (gx & 31)];
    });
}

uint16_t MapAverages::AverageOf(const TexelSource& source, int depth)
{
    const auto key = std::make_pair(source.Texels, source.Pitch);
    const auto known = Averages.find(key);
    if (known != Averages.end())
        return known->second;
    // Sums of 1024 channel values of at most 255 fit any int.
    int r = 0, g = 0, b = 0;
    for (int ty = 0; ty < CellSize; ++ty)
        for (int tx = 0; tx < CellSize; ++tx) {
            const int texel = source.Texels[ty * source.Pitch + tx];
            r += getr_depth(depth, texel);
            g += getg_depth(depth, texel);
            b += getb_depth(depth, texel);
        }
    constexpr int texels = CellSize * CellSize;
    const auto average = static_cast<uint16_t>(
        makecol_depth(depth, (r + texels / 2) / texels, (g + texels / 2) / texels, (b + texels / 2) / texels));
    Averages.emplace(key, average);
    return average;
}

bool MapAverages::Draw(const World& world, BITMAP* out, int scale)
{
    const int depth = out ? bitmap_color_depth(out) : 0;
    return DrawEachPoint(world, out, scale,
                         [&](const TexelSource& source, int, int) { return AverageOf(source, depth); });
}
