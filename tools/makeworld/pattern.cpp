// Hashing, noise and colour helpers for makeworld's procedural pictures.
#include "pattern.h"

#include <allegro.h>

uint32_t Hash(uint32_t seed, int32_t x, int32_t y)
{
    uint32_t h = seed ^ (static_cast<uint32_t>(x) * 0x9E3779B1u) ^ (static_cast<uint32_t>(y) * 0x85EBCA77u);
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

uint32_t Rng::Next()
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

// x mod m, never negative.
static int Wrap(int x, int m)
{
    const int r = x % m;
    return r < 0 ? r + m : r;
}

// Division rounding toward minus infinity, so the lattice has no seam at 0.
static int FloorDiv(int x, int d)
{
    return x >= 0 ? x / d : -((-x + d - 1) / d);
}

// Smoothstep of t in 0..1024, result 0..1024.
static int Smooth(int t)
{
    return static_cast<int>(static_cast<int64_t>(t) * t * (3072 - 2 * t) / (1024 * 1024));
}

int ValueNoise(uint32_t seed, int x, int y, int cell, int periodX, int periodY)
{
    const int cx = FloorDiv(x, cell);
    const int cy = FloorDiv(y, cell);
    const int sx = Smooth((x - cx * cell) * 1024 / cell);
    const int sy = Smooth((y - cy * cell) * 1024 / cell);
    // Lattice points wrap with the period, so the noise repeats exactly.
    const int columns = periodX > 0 ? periodX / cell : 0;
    const int rows = periodY > 0 ? periodY / cell : 0;
    auto corner = [&](int i, int j) {
        const int li = columns ? Wrap(i, columns) : i;
        const int lj = rows ? Wrap(j, rows) : j;
        return static_cast<int>(Hash(seed, li, lj) & 0xFF);
    };
    const int top = corner(cx, cy) * 1024 + (corner(cx + 1, cy) - corner(cx, cy)) * sx;
    const int bottom = corner(cx, cy + 1) * 1024 + (corner(cx + 1, cy + 1) - corner(cx, cy + 1)) * sx;
    return (top * 1024 + (bottom - top) * sy) / (1024 * 1024);
}

int FractalNoise(uint32_t seed, int x, int y, int cell, int octaves, int periodX, int periodY)
{
    int sum = 0;
    int weight = 256;
    int total = 0;
    for (int octave = 0; octave < octaves && cell > 0; octave++) {
        sum += ValueNoise(seed + octave * 101u, x, y, cell, periodX, periodY) * weight;
        total += weight;
        weight /= 2;
        cell /= 2;
    }
    return sum / total;
}

static int Clamp(int v, int low, int high)
{
    return v < low ? low : v > high ? high : v;
}

Rgb Mix(Rgb a, Rgb b, int t)
{
    t = Clamp(t, 0, 256);
    return {a.r + (b.r - a.r) * t / 256, a.g + (b.g - a.g) * t / 256, a.b + (b.b - a.b) * t / 256};
}

Rgb Shade(Rgb c, int percent)
{
    return {Clamp(c.r * percent / 100, 0, 255), Clamp(c.g * percent / 100, 0, 255),
            Clamp(c.b * percent / 100, 0, 255)};
}

int Pixel(Rgb c)
{
    return makecol16(Clamp(c.r, 0, 255), Clamp(c.g, 0, 255), Clamp(c.b, 0, 255));
}
