// The tile images of the default world, 32 x 32 texels per frame. Every
// picture repeats seamlessly across its 32 texels, so neighbouring cells of
// the same kind join without a visible edge.
#include <cstdlib>

#include "makeworld.h"

const TileInfo TileKinds[TileKindCount] = {
    {"water.bmp", 4, 5},   {"grass.bmp", 1, 0}, {"sand.bmp", 1, 0},    {"road.bmp", 1, 0},
    {"brick.bmp", 1, 0},   {"flowers.bmp", 1, 0}, {"plaza.bmp", 1, 0}, {"lava.bmp", 4, 5},
    {"lights.bmp", 4, 2},  {"dirt.bmp", 1, 0},
};

namespace {

constexpr int T = CellSize;  // texels per tile side: every period below

// Bright where noise crosses its middle value: thin wavy lines.
int Ridge(int v)
{
    return 255 - 2 * std::abs(v - 128);
}

// Per-texel grain: -spread..spread.
int Grain(uint32_t seed, int x, int y, int spread)
{
    return static_cast<int>(Hash(seed, x, y) % static_cast<uint32_t>(2 * spread + 1)) - spread;
}

Rgb Water(int x, int y, int frame)
{
    // Two ripple layers drifting across each other; each shifts 8 texels a
    // frame, so after four frames both are back where they started.
    const int shift = 8 * frame;
    const int a = ValueNoise(11, x + shift, y, 8, T, T);
    const int b = ValueNoise(12, x, y + shift, 16, T, T);
    const int c = ValueNoise(13, x - shift, y - shift, 8, T, T);
    const int body = (a + b + c) / 3;
    Rgb color = Mix({18, 52, 110}, {40, 110, 170}, body);
    const int crest = Ridge((a + c) / 2);
    if (crest > 200)
        color = Mix(color, {190, 225, 245}, (crest - 200) * 4);
    return color;
}

Rgb Grass(int x, int y)
{
    const int n = FractalNoise(21, x, y, 16, 3, T, T);
    Rgb color = Mix({46, 104, 34}, {92, 150, 52}, n);
    const int blade = Grain(22, x, y, 12);
    return Shade(color, 100 + blade);
}

Rgb Sand(int x, int y)
{
    const int n = FractalNoise(31, x, y, 16, 3, T, T);
    const Rgb color = Mix({196, 170, 112}, {232, 212, 156}, n);
    return Shade(color, 100 + Grain(32, x, y, 6));
}

Rgb Cobbles(int x, int y, uint32_t seed, Rgb stone)
{
    // 8 x 8 stones, every other row shifted by half a stone.
    const int row = y / 8;
    const int sx = (x + (row & 1) * 4) % T;
    const int column = sx / 8;
    if (sx % 8 == 0 || y % 8 == 0)
        return Shade(stone, 45 + Grain(seed + 1, x, y, 5));
    const int tone = static_cast<int>(Hash(seed, column, row) % 30);
    const int n = ValueNoise(seed + 2, x, y, 4, T, T);
    Rgb color = Shade(stone, 80 + tone + (n - 128) / 16);
    // A highlight along each stone's upper left edge.
    if (sx % 8 == 1 || y % 8 == 1)
        color = Shade(color, 112);
    return color;
}

Rgb Road(int x, int y)
{
    return Cobbles(x, y, 41, {150, 146, 140});
}

Rgb Brick(int x, int y)
{
    // Bricks 16 x 8, every other course shifted by half a brick.
    const int course = y / 8;
    const int bx = (x + (course & 1) * 8) % T;
    if (bx % 16 == 0 || y % 8 == 0)
        return Shade({200, 196, 184}, 90 + Grain(51, x, y, 6));
    const int tone = static_cast<int>(Hash(52, bx / 16, course) % 24);
    const Rgb brick = Shade({160, 66, 44}, 88 + tone);
    return Shade(brick, 100 + Grain(53, x, y, 7));
}

Rgb Flowers(int x, int y)
{
    // One flower in each 8 x 8 patch of grass, kept inside its patch.
    const int px = x / 8, py = y / 8;
    const uint32_t h = Hash(61, px, py);
    const int cx = px * 8 + 2 + static_cast<int>(h % 4);
    const int cy = py * 8 + 2 + static_cast<int>((h >> 4) % 4);
    static const Rgb petals[] = {{230, 52, 60}, {246, 214, 60}, {244, 244, 236}, {170, 90, 210}};
    const Rgb petal = petals[(h >> 8) % 4];
    const int dx = std::abs(x - cx), dy = std::abs(y - cy);
    if (dx == 0 && dy == 0)
        return {250, 200, 40};
    if (dx + dy == 1)
        return petal;
    if (dx == 1 && dy == 1)
        return Shade(petal, 70);
    return Grass(x, y);
}

Rgb Plaza(int x, int y)
{
    // 16 x 16 slabs, light and dark in turn: the checker runs on across cells.
    const bool light = ((x / 16) + (y / 16)) % 2 == 0;
    const int n = FractalNoise(light ? 71 : 72, x, y, 8, 3, T, T);
    Rgb color = light ? Mix({206, 202, 194}, {236, 232, 222}, n) : Mix({52, 58, 70}, {80, 86, 98}, n);
    if (x % 16 == 0 || y % 16 == 0)
        color = Shade(color, 80);
    return color;
}

Rgb Lava(int x, int y, int frame)
{
    // Glowing cracks in a dark crust; the crust drifts and the glow pulses.
    static const int glow[4] = {100, 115, 130, 115};
    const int shift = 8 * frame;
    const int crust = FractalNoise(81, x + shift, y, 16, 3, T, T);
    const int flow = ValueNoise(82, x, y - shift, 8, T, T);
    const int crack = Ridge((crust * 3 + flow) / 4);
    Rgb color = Mix({44, 14, 10}, {110, 30, 12}, crust);
    if (crack > 190)
        color = Mix({200, 50, 8}, {255, 220, 80}, (crack - 190) * 256 / 65);
    else if (crack > 150)
        color = Mix(color, {200, 50, 8}, (crack - 150) * 256 / 40);
    return Shade(color, glow[frame]);
}

Rgb Lights(int x, int y, int frame)
{
    // A kerb of small stones with four lamps along its middle; frame f lights
    // lamp f, so a row of these cells chases towards +x.
    Rgb color = Cobbles(x, y, 91, {120, 120, 126});
    for (int lamp = 0; lamp < 4; lamp++) {
        const int dx = x - (4 + 8 * lamp), dy = y - 16;
        const int d2 = dx * dx + dy * dy;
        const bool lit = lamp == frame;
        if (d2 <= 2)
            color = lit ? Rgb{255, 250, 200} : Rgb{120, 84, 30};
        else if (d2 <= 5)
            color = lit ? Rgb{255, 200, 60} : Rgb{70, 56, 40};
        else if (lit && d2 <= 13)
            color = Mix(color, {255, 190, 60}, 150);
    }
    return color;
}

Rgb Dirt(int x, int y)
{
    const int n = FractalNoise(101, x, y, 16, 3, T, T);
    Rgb color = Mix({98, 70, 44}, {142, 106, 66}, n);
    // A few pebbles.
    if (Hash(102, x, y) % 41 == 0)
        color = {168, 160, 150};
    return Shade(color, 100 + Grain(103, x, y, 6));
}

Rgb TexelOf(TileKind kind, int x, int y, int frame)
{
    switch (kind) {
    case TileWater: return Water(x, y, frame);
    case TileGrass: return Grass(x, y);
    case TileSand: return Sand(x, y);
    case TileRoad: return Road(x, y);
    case TileBrick: return Brick(x, y);
    case TileFlowers: return Flowers(x, y);
    case TilePlaza: return Plaza(x, y);
    case TileLava: return Lava(x, y, frame);
    case TileLights: return Lights(x, y, frame);
    case TileDirt: return Dirt(x, y);
    case TileKindCount: break;
    }
    return {255, 0, 255};
}

}  // namespace

BitmapPtr DrawTile(TileKind kind)
{
    const int frames = TileKinds[kind].frames;
    BitmapPtr image(create_bitmap_ex(16, T * frames, T));
    for (int frame = 0; frame < frames; frame++)
        for (int y = 0; y < T; y++)
            for (int x = 0; x < T; x++)
                putpixel(image.get(), frame * T + x, y, Pixel(TexelOf(kind, x, y, frame)));
    return image;
}
