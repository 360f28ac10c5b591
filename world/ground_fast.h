// The fast ground renderer behind World::DrawGround: the same pixels as
// DrawGroundPlain, computed row by row with the vector instructions this CPU
// has. One binary runs everywhere; the instruction level is chosen at run
// time and can be forced, so that every level can be checked against the
// plain renderer.
#pragma once

#include <cstdint>

// Instruction levels of the ground renderer, from the plain reference up.
enum GroundLevel : int {
    GroundPlain = 0,   // DrawGroundPlain itself
    GroundSse2 = 1,    // the x86-64 baseline
    GroundAvx2 = 2,    // AVX2 and FMA
    GroundAvx512 = 3,  // AVX-512 F, BW, DQ and VL
    GroundLevels = 4
};

// "plain", "sse2", "avx2", "avx512"; "?" for anything else.
const char* GroundLevelName(int level);
// The level named `name` (as GroundLevelName writes it), or -1.
int GroundLevelFromName(const char* name);
// Whether this CPU can run `level`.
bool GroundLevelSupported(int level);
// The highest level this CPU can run.
int GroundBestLevel();

// The level World::DrawGround uses. It starts as the best level, or as the
// level named by the environment variable GROUNDVIEW_GROUND_LEVEL when that
// names a level this CPU supports.
int GroundLevelInUse();
// Makes DrawGround use `level`; refused (returning false, nothing changed)
// when the CPU cannot run it.
bool SetGroundLevel(int level);

// The quotient Dc / k is taken without a division for k up to this bound, as
// p + t with p = Dc * High[k] and t = Dc * Low[k]: High[k] is 1 / k rounded
// to 26 significant bits, so that p is exact for any float Dc, and Low[k] is
// 1 / k - High[k] rounded to double. The sum rounds to the same double as
// the division. Rows farther down divide.
constexpr int GroundReciprocalRows = 1024;
struct GroundReciprocal {
    double High;
    double Low;
};
// Entries 1..GroundReciprocalRows; entry 0 is unused.
const GroundReciprocal* GroundReciprocals();
