// The per-row work of the fast ground renderer: what a row stage is given,
// what it leaves to the scalar stage, and the scalar stage itself; the
// vector stages are one file per instruction level. Internal to the renderer.
//
// The arithmetic of every level is the same and exact:
//   q = Dc * high + Dc * low, the first product exact (high has 26
//       significant bits, Dc 24), rounded once in the sum, by an addition
//       or by a fused multiply-add; both give the double nearest Dc / k
//       (ground_quotient.h);
//   gx = trunc(x + q), gy = trunc(y - q'), in range by the checks made
//       before any row is drawn, so the conversions are exact truncations;
//   tx = gx >> 5 and ty = gy >> 5 (arithmetic), on the map when both lie
//       in 0..63, that is when neither has a bit outside the low six.
// The vector stage finds the texels of sixteen columns at a time; the
// scalar stage copies the steps it leaves while the next row's vector stage
// runs.
#pragma once

#include <cstdint>

// One row of the ground. For each view column c (up to Width, the arrays
// padded with zeros to a whole number of 16 columns), DC[c] and DS[c] are
// the reach factors of the ray that fills the column, High and Low the split
// reciprocal of the row's k. A vector stage finds each column's texel and
// packs it into Packed (aligned, padded length) as
//   (cell << CellShift) + (row & RowMask) + ((row * Pitch + column) << ColumnShift)
// where `cell` is the entry of the texel table, tx * 64 + ty on the map and
// 4096 outside it, `row` and `column` the texel's (gy & 31 and gx & 31).
// A scalar stage then copies the texel at
//   Base + 2 * (Table[packed & LowMask] + (packed >> ColumnShift)) bytes
// into Dest[c]. Two forms:
//  - one pitch: CellShift 0, RowMask 0, Pitch the images' one pitch (below
//    GroundPitchLimit), ColumnShift 16, LowMask 0xFFFF; Table holds each
//    cell's first texel;
//  - rows: CellShift 5, RowMask 31, Pitch 0, ColumnShift 18, LowMask
//    0x3FFFF; Table holds the first texel of each row of each cell, at
//    cell * 32 + row.
struct GroundRow {
    const double* DC;
    const double* DS;
    int Width;
    double X;
    double Y;
    double High;
    double Low;
    bool OnePitch;
    int CellShift;
    int32_t RowMask;
    int32_t Pitch;
    int ColumnShift;
    uint32_t LowMask;
    const int32_t* Table;
    uintptr_t Base;
    uint16_t* Dest;
    uint32_t* Packed;
};

// The packing of the two forms (see GroundRow).
constexpr int GroundOnePitchColumnShift = 16;
constexpr uint32_t GroundOnePitchLowMask = 0xFFFF;
constexpr int GroundRowsCellShift = 5;
constexpr int32_t GroundRowsRowMask = 31;
constexpr int GroundRowsColumnShift = 18;
constexpr uint32_t GroundRowsLowMask = 0x3FFFF;
// 31 * pitch + 31 fits the 16 bits above the cell.
constexpr int32_t GroundPitchLimit = 1 << 11;
constexpr int GroundColumnsPerStep = 16;
// Steps of the widest row, 640 columns.
constexpr int GroundMaxSteps = 40;

// The steps of one row that its vector stage left to the scalar stage: the
// scalar stage copies them while the vector stage works on the next row, so
// that the two kinds of work overlap without a branch that guesses wrong
// every other step. Packed and Dest are that row's.
struct GroundLeftover {
    const uint32_t* Packed = nullptr;
    uint16_t* Dest = nullptr;
    int Count = 0;
    uint8_t Steps[GroundMaxSteps];
};

// Copies the vector stage's row and leaves its leftover steps in `leftover`,
// after copying (while it works) the steps `leftover` held on entry.
using GroundRowStage = void (*)(const GroundRow& row, GroundLeftover& leftover);

// The columns [first, end) of the row whose values `packed` holds, in a
// form fixed at compile time.
template <uint32_t LowMask, int ColumnShift>
inline void GroundCopyColumns(const GroundRow& row, const uint32_t* packed, uint16_t* dest, int first, int end)
{
    const int32_t* table = row.Table;
    const uint16_t* base = reinterpret_cast<const uint16_t*>(row.Base);
    for (int c = first; c < end; ++c) {
        const uint32_t p = packed[c];
        dest[c] = base[static_cast<uint32_t>(table[p & LowMask]) + (p >> ColumnShift)];
    }
}

inline void GroundCopyColumns(const GroundRow& row, const uint32_t* packed, uint16_t* dest, int first, int end)
{
    if (row.OnePitch)
        GroundCopyColumns<GroundOnePitchLowMask, GroundOnePitchColumnShift>(row, packed, dest, first, end);
    else
        GroundCopyColumns<GroundRowsLowMask, GroundRowsColumnShift>(row, packed, dest, first, end);
}

// Leftover step n of `leftover`; the last step of a row may be partial.
inline void GroundCopyLeftoverStep(const GroundRow& row, const GroundLeftover& leftover, int n)
{
    const int first = leftover.Steps[n] * GroundColumnsPerStep;
    const int end = first + GroundColumnsPerStep < row.Width ? first + GroundColumnsPerStep : row.Width;
    GroundCopyColumns(row, leftover.Packed, leftover.Dest, first, end);
}

// Copies what is left of `leftover`, which is then empty.
inline void GroundCopyLeftover(const GroundRow& row, GroundLeftover& leftover)
{
    for (int n = 0; n < leftover.Count; ++n)
        GroundCopyLeftoverStep(row, leftover, n);
    leftover.Count = 0;
}

// The end of a row's vector stage: copies the previous row's leftover steps
// from `copied` on, then leaves this row's `count` steps `left` in their
// place.
inline void GroundHandOver(const GroundRow& row, GroundLeftover& leftover, int copied, const uint8_t* left, int count)
{
    for (int n = copied; n < leftover.Count; ++n)
        GroundCopyLeftoverStep(row, leftover, n);
    for (int n = 0; n < count; ++n)
        leftover.Steps[n] = left[n];
    leftover.Count = count;
    leftover.Packed = row.Packed;
    leftover.Dest = row.Dest;
}

// Step numbers 0, 1, 2, ...: every step of a row.
struct GroundStepNumbers {
    uint8_t Steps[GroundMaxSteps];

    constexpr GroundStepNumbers() : Steps{}
    {
        for (int n = 0; n < GroundMaxSteps; ++n)
            Steps[n] = static_cast<uint8_t>(n);
    }
};
constexpr GroundStepNumbers GroundEveryStep;

// Every step of a row to the scalar stage, as the levels without lookups in
// registers leave them.
inline void GroundLeaveEveryStep(const GroundRow& row, GroundLeftover& leftover, int steps)
{
    GroundHandOver(row, leftover, steps, GroundEveryStep.Steps, steps);
}

#if defined(__x86_64__)

void GroundRowSse2(const GroundRow& row, GroundLeftover& leftover);
void GroundRowAvx2(const GroundRow& row, GroundLeftover& leftover);
void GroundRowAvx512(const GroundRow& row, GroundLeftover& leftover);

// The reach factors of the rays by view column, at the AVX-512 level: as
// GroundReach (ground.h) forms them, eight columns at a time where neither
// angle wraps within them.
void GroundReachAvx512(double scale, int angle, int width, double* dc, double* ds);

#endif
