// The sky panorama: a gradient from deep blue overhead to haze at the
// horizon, drifting clouds, and two ranges of distant hills. Every pattern
// across the panorama repeats every 2880 columns, so column 2879 meets
// column 0 without a seam.
#include "makeworld.h"

namespace {

// Height in rows of a hill range above the horizon at column x.
int HillHeight(uint32_t seed, int x, int base, int rise)
{
    // Fractal noise keeps near its middle; stretch it to ridges and valleys.
    const int n = FractalNoise(seed, x, 0, 240, 5, SkyWidth, 0);
    const int height = base + (n - 80) * rise / 96;
    return height < 0 ? 0 : height;
}

Rgb SkyTexel(int x, int y)
{
    // Rows from the top (0) down to the horizon (SkyHeight - 1).
    const int depth = y * 256 / (SkyHeight - 1);
    Rgb color = depth < 160 ? Mix({40, 84, 170}, {104, 150, 214}, depth * 256 / 160)
                            : Mix({104, 150, 214}, {200, 216, 230}, (depth - 160) * 256 / 96);

    // Clouds: stretched noise, thicker higher up, with grey undersides.
    const int cloud = FractalNoise(201, x, y * 3, 120, 4, SkyWidth, 0);
    const int cover = cloud - 132 + (SkyHeight - y) / 3;
    if (cover > 0) {
        const int shade = ValueNoise(202, x, y * 3 - 12, 60, SkyWidth, 0);
        const Rgb white = Mix({250, 250, 252}, {186, 190, 204}, shade / 2);
        color = Mix(color, white, cover * 6);
    }

    // Far hills in haze, nearer ones darker and greener in front of them.
    const int fromBottom = SkyHeight - 1 - y;
    const int far = HillHeight(203, x, 10, 30);
    const int near = HillHeight(204, x, 2, 22);
    if (fromBottom < near) {
        const int n = ValueNoise(205, x, y, 15, SkyWidth, 0);
        color = Mix({58, 92, 70}, {84, 118, 84}, n);
    } else if (fromBottom < far) {
        color = Mix({120, 146, 168}, {140, 162, 180}, fromBottom * 256 / far);
    }
    return color;
}

}  // namespace

BitmapPtr DrawSky()
{
    BitmapPtr sky(create_bitmap_ex(16, SkyWidth, SkyHeight));
    for (int y = 0; y < SkyHeight; y++)
        for (int x = 0; x < SkyWidth; x++)
            putpixel(sky.get(), x, y, Pixel(SkyTexel(x, y)));
    return sky;
}
