// The per-row work of the fast ground renderer, one version per instruction
// level. Internal to the renderer.
#pragma once

#include <cstdint>

// One row of the ground. For each view column c (up to Width, the arrays
// padded with zeros to a whole number of 16 columns), DC[c] and DS[c] are
// the reach factors of the ray that fills the column, High and Low the split
// reciprocal of the row's k. A vector stage finds each column's texel, as
//   cell | ((gy & 31) * Pitch + (gx & 31)) << GroundCellBits
// where `cell` is the entry of the texel table, tx * 64 + ty on the map and
// 4096 outside it, and Pitch is below GroundPitchLimit. The packed values go
// to Packed (aligned, padded length), and a scalar stage copies the texel
//   Base + 2 * (Start[cell] + offset) bytes            (Pitches null)
//   Base + 2 * (Start[cell] + row * Pitches[cell] + column) bytes
//                                                       (Pitch 32; the offset
//                                                        is row * 32 + column)
// into Dest[c].
struct GroundRow {
    const double* DC;
    const double* DS;
    int Width;
    double X;
    double Y;
    double High;
    double Low;
    int32_t Pitch;
    const int32_t* Start;
    const int32_t* Pitches;
    uintptr_t Base;
    uint16_t* Dest;
    uint32_t* Packed;
};

using GroundRowStage = void (*)(const GroundRow& row);

// The cell in the low half, so that the scalar stage splits a packed value
// with a zero extension and a shift.
constexpr int GroundCellBits = 16;
constexpr uint32_t GroundCellMask = (1u << GroundCellBits) - 1;
// 31 * pitch + 31 fits the 16 bits above the cell.
constexpr int32_t GroundPitchLimit = 1 << 11;
constexpr int GroundColumnsPerStep = 16;

// The texel a packed value names: what the scalar stage copies.
inline uint16_t GroundTexel(const GroundRow& row, uint32_t packed)
{
    const uint32_t cell = packed & GroundCellMask;
    const uint32_t offset = packed >> GroundCellBits;
    const uint32_t texel = row.Pitches ? static_cast<uint32_t>(row.Start[cell]) +
                                             (offset >> 5) * static_cast<uint32_t>(row.Pitches[cell]) + (offset & 31)
                                       : static_cast<uint32_t>(row.Start[cell]) + offset;
    return *reinterpret_cast<const uint16_t*>(row.Base + 2 * uintptr_t{texel});
}

void GroundRowSse2(const GroundRow& row);
void GroundRowAvx2(const GroundRow& row);
void GroundRowAvx512(const GroundRow& row);

// The row stages' quotients Dc / k on their own, for the proof that they are
// the quotients the plain renderer divides for: out[i] for d[i], `count` a
// multiple of 8.
using GroundQuotientStage = void (*)(const double* d, int count, double high, double low, double* out);
void GroundQuotientsSse2(const double* d, int count, double high, double low, double* out);
void GroundQuotientsAvx2(const double* d, int count, double high, double low, double* out);
void GroundQuotientsAvx512(const double* d, int count, double high, double low, double* out);
