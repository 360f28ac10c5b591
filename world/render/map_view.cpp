// The map from above: for each pixel one ground point, and the texel the
// ground renderer would copy for it.
#include "render/map_view.h"

#include "render/ground.h"  // Required for: BuildTexelSources(), CellSource()

bool DrawMapView(const World& world, BITMAP* out, int scale)
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
            const TexelSource& source = sources[CellSource(gx >> 5, gy >> 5)];
            // The same lookup as the ground renderer's inner loop.
            dest[i] = source.Texels[(gy & 31) * source.Pitch + (gx & 31)];
        }
    }
    return true;
}
