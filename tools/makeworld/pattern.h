// The drawing kit of makeworld: a seeded integer hash, tileable value noise
// and colours. Everything is integer arithmetic, so the pictures come out
// the same on every machine and every run.
#pragma once

#include <cstdint>

// A 32-bit hash of a lattice point: the only source of randomness.
uint32_t Hash(uint32_t seed, int32_t x, int32_t y);

// A small generator for choices made in sequence (xorshift32, fixed seed).
class Rng {
public:
    explicit Rng(uint32_t seed) : state(seed ? seed : 0x6d2b79f5u) {}
    uint32_t Next();
    // 0..limit-1
    int Below(int limit) { return static_cast<int>(Next() % static_cast<uint32_t>(limit)); }

private:
    uint32_t state;
};

// Smooth value noise, 0..255, on a lattice of `cell` pixels. It repeats every
// `periodX` pixels across and `periodY` down (0: no repeat); each period must
// be a multiple of the cell.
int ValueNoise(uint32_t seed, int x, int y, int cell, int periodX, int periodY);

// Octaves of value noise from `cell` down to `cell` >> (octaves - 1), each of
// half the weight of the one before, 0..255. Every octave's cell must divide
// the periods for the sum to repeat.
int FractalNoise(uint32_t seed, int x, int y, int cell, int octaves, int periodX, int periodY);

struct Rgb {
    int r, g, b;
};

// a + (b - a) * t / 256, channel by channel; t is clamped to 0..256.
Rgb Mix(Rgb a, Rgb b, int t);
// Each channel times percent / 100, clamped to 0..255.
Rgb Shade(Rgb c, int percent);
// The colour as a 16-bit pixel, the format of every bitmap makeworld draws.
int Pixel(Rgb c);
