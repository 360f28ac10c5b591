// The fast ground renderer: the same pixels as World::DrawGround, computed row by row with the vector instructions this CPU
// has. One binary runs everywhere; the instruction level is chosen at run
// time and can be set, so that every level can be checked against the plain
// renderer.
#pragma once

#include <cstdint>

#include "render/fast/ground_quotient.h"
#include "render/fast/ground_rows.h"
#include "render/fast/ground_texels.h"

// Instruction levels of the ground renderer, from the plain reference up.
enum GroundLevel : int {
    GroundPlain = 0,   // World::DrawGround itself
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

// The fast renderer and everything it keeps from one draw to the next: its
// level, the split reciprocals, the texel cache and the rays' reach factors.
// Whoever draws owns one (the viewer's loop, a tool's render); it draws on
// the calling thread.
class GroundRenderer {
public:
    // At the best level this CPU runs.
    GroundRenderer();

    int Level() const { return LevelInUse; }
    // Refused (false, nothing changed) for a level this CPU cannot run.
    bool SetLevel(int level);

    // World::DrawGround's pixels, at the level set.
    void Draw(const World& world, BITMAP* view, float x, float y, int height, int angle, int horizon);

private:
    // Rays of the widest view the renderer accepts (ColumnBase 0), rounded
    // up to whole vector steps.
    static constexpr int MaxColumns = GroundRowPixels;
    static_assert(MaxColumns % GroundColumnsPerStep == 0, "the row buffers hold whole vector steps");
    static_assert(MaxColumns / GroundColumnsPerStep <= GroundMaxSteps, "a row's leftover steps fit");

    void FormRays(double scale, int angle, int width);

    int LevelInUse;
    GroundReciprocalTable Reciprocals;
    GroundTexelCache Texels;
    // The reach factors of every ray of the draw, by the view column the ray
    // fills; columns past the width, up to a whole vector step, are zero and
    // never stored.
    alignas(64) double RayX[MaxColumns];
    alignas(64) double RayY[MaxColumns];
    // The packed texels of two rows: the scalar stage copies one row's while
    // the next is being filled.
    alignas(64) uint32_t Packed[2][MaxColumns];
};
