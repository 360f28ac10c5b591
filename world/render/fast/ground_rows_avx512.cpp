// The AVX-512 row stage and the rays' reach factors at that level. The
// stage copies the sixteen texels of a step itself when they lie in one cell
// and within eight rows of its frame, which most do, and leaves the other
// steps to the scalar stage. Each function carries its own target, so this
// file builds for the x86-64 baseline.
#include "render/fast/ground_quotient.h"
#include "render/fast/ground_rows.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include "render/ground.h"

// GCC 12's AVX-512 headers build set1 and cvtt from a deliberately undefined
// vector, which its own flow analysis then reports as maybe uninitialised.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

namespace {

#define GROUND_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx2,fma")))

// Eight rows of one frame, from `top` on, rows `pitch` texels apart: the
// sixteen texels at `index` ((row - first row) * 32 + column, one 16-bit
// index a lane in the low half) picked out of registers, two rows (64
// texels) a permute.
GROUND_AVX512 __attribute__((always_inline)) inline __m256i EightRowTexels(
    const uint16_t* top, int32_t pitch, __m512i index)
{
    const uint16_t* fifth = top + 4 * pitch;
    const __m512i rows01 = _mm512_permutex2var_epi16(_mm512_loadu_si512(top), index, _mm512_loadu_si512(top + pitch));
    const __m512i rows23 =
        _mm512_permutex2var_epi16(_mm512_loadu_si512(top + 2 * pitch), index, _mm512_loadu_si512(top + 3 * pitch));
    const __m512i rows45 = _mm512_permutex2var_epi16(_mm512_loadu_si512(fifth), index, _mm512_loadu_si512(fifth + pitch));
    const __m512i rows67 = _mm512_permutex2var_epi16(_mm512_loadu_si512(fifth + 2 * pitch), index,
                                                     _mm512_loadu_si512(fifth + 3 * pitch));
    const __mmask32 rows2To3 = _mm512_test_epi16_mask(index, _mm512_set1_epi16(64));
    const __mmask32 rows4To7 = _mm512_test_epi16_mask(index, _mm512_set1_epi16(128));
    const __m512i rows03 = _mm512_mask_blend_epi16(rows2To3, rows01, rows23);
    const __m512i rows47 = _mm512_mask_blend_epi16(rows2To3, rows45, rows67);
    return _mm512_castsi512_si256(_mm512_mask_blend_epi16(rows4To7, rows03, rows47));
}

// Every step is looked up in registers, without a branch: in the cell of
// its first column, in the eight rows from the lower of its first and last
// column's row (moved up to stay within the frame). The steps where some
// column lies elsewhere are left to the scalar stage, which overwrites them.
// In the rows form every step is left.
template <bool OnePitch>
GROUND_AVX512 inline void RowAvx512(const GroundRow& row, GroundLeftover& leftover)
{
    const __m512d vx = _mm512_set1_pd(row.X);
    const __m512d vy = _mm512_set1_pd(row.Y);
    const __m512d vh = _mm512_set1_pd(row.High);
    const __m512d vl = _mm512_set1_pd(row.Low);
    const __m512i outside = _mm512_set1_epi32(~63);
    const __m512i low5 = _mm512_set1_epi32(31);
    const __m512i offMap = _mm512_set1_epi32(OffMapSource);
    const __m512i lastLane = _mm512_set1_epi32(GroundColumnsPerStep - 1);
    const __m512i lastTop = _mm512_set1_epi32(CellSize - 8);
    const __m512i eight = _mm512_set1_epi32(8);
    // Locals, not the row's fields: the byte stores below could alias them.
    const int width = row.Width;
    const int32_t pitch = OnePitch ? row.Pitch : 0;
    const __m512i vpitch = _mm512_set1_epi32(pitch);
    const double* dc = row.DC;
    const double* ds = row.DS;
    uint32_t* packed = row.Packed;
    uint16_t* dest = row.Dest;
    const int32_t* table = row.Table;
    const uint16_t* base = reinterpret_cast<const uint16_t*>(row.Base);
    const int previousCount = leftover.Count;
    uint8_t left[GroundMaxSteps];
    int leftCount = 0;
    int step = 0;
    for (int c = 0; c < width; c += GroundColumnsPerStep, ++step) {
        const __m512d dc0 = _mm512_load_pd(dc + c);
        const __m512d dc1 = _mm512_load_pd(dc + c + 8);
        const __m512d ds0 = _mm512_load_pd(ds + c);
        const __m512d ds1 = _mm512_load_pd(ds + c + 8);
        const __m512d qx0 = GroundQuotientAvx512(dc0, vh, vl);
        const __m512d qx1 = GroundQuotientAvx512(dc1, vh, vl);
        const __m512d qy0 = GroundQuotientAvx512(ds0, vh, vl);
        const __m512d qy1 = GroundQuotientAvx512(ds1, vh, vl);
        const __m512i gx = _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvttpd_epi32(_mm512_add_pd(vx, qx0))),
                                              _mm512_cvttpd_epi32(_mm512_add_pd(vx, qx1)), 1);
        const __m512i gy = _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvttpd_epi32(_mm512_sub_pd(vy, qy0))),
                                              _mm512_cvttpd_epi32(_mm512_sub_pd(vy, qy1)), 1);
        const __m512i tx = _mm512_srai_epi32(gx, 5);
        const __m512i ty = _mm512_srai_epi32(gy, 5);
        const __mmask16 offMapLanes = _mm512_test_epi32_mask(_mm512_or_si512(tx, ty), outside);
        const __m512i cell = _mm512_or_si512(_mm512_slli_epi32(tx, 6), ty);
        const __m512i source = _mm512_mask_mov_epi32(cell, offMapLanes, offMap);
        const __m512i texelRow = _mm512_and_si512(gy, low5);
        const __m512i texelColumn = _mm512_and_si512(gx, low5);

        __mmask16 elsewhere = 0xFFFF;
        if (OnePitch) {
            const __m512i firstRow = _mm512_broadcastd_epi32(_mm512_castsi512_si128(texelRow));
            const __m512i lastRow = _mm512_permutexvar_epi32(lastLane, texelRow);
            const __m512i top = _mm512_min_epi32(_mm512_min_epi32(firstRow, lastRow), lastTop);
            const __m512i fromTop = _mm512_sub_epi32(texelRow, top);
            const __m512i lead = _mm512_broadcastd_epi32(_mm512_castsi512_si128(source));
            elsewhere = _mm512_cmpneq_epi32_mask(source, lead) | _mm512_cmpge_epu32_mask(fromTop, eight);
            const int32_t start = table[_mm_cvtsi128_si32(_mm512_castsi512_si128(source))];
            const int32_t topRow = _mm_cvtsi128_si32(_mm512_castsi512_si128(top));
            const __m512i index = _mm512_castsi256_si512(
                _mm512_cvtepi32_epi16(_mm512_or_si512(_mm512_slli_epi32(fromTop, 5), texelColumn)));
            const __m256i texels = EightRowTexels(base + start + topRow * pitch, pitch, index);
            if (c + GroundColumnsPerStep <= width)
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + c), texels);
            else
                _mm256_mask_storeu_epi16(dest + c, static_cast<__mmask16>((1u << (width - c)) - 1), texels);
        }
        left[leftCount] = static_cast<uint8_t>(step);
        leftCount += elsewhere != 0;

        const __m512i texel = _mm512_add_epi32(_mm512_mullo_epi32(texelRow, vpitch), texelColumn);
        const __m512i result =
            OnePitch ? _mm512_or_si512(source, _mm512_slli_epi32(texel, GroundOnePitchColumnShift))
                     : _mm512_add_epi32(_mm512_add_epi32(_mm512_slli_epi32(source, GroundRowsCellShift), texelRow),
                                        _mm512_slli_epi32(texelColumn, GroundRowsColumnShift));
        _mm512_store_si512(packed + c, result);

        if (step < previousCount)
            GroundCopyLeftoverStep(row, leftover, step);
    }
    GroundHandOver(row, leftover, step, left, leftCount);
}

}  // namespace

GROUND_AVX512 void GroundReachAvx512(double scale, int angle, int width, double* dc, double* ds)
{
    // Columns c..c+7 read the tables from index a - 7 up to a (and r - 7 up
    // to r), backwards.
    const __m256i backwards = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
    const __m512d vscale = _mm512_set1_pd(scale);
    int c = 0;
    for (; c < width; ++c) {
        const int n = width - 1 - c;
        const int a = WrapAngle(angle - GroundFanOffset + n);
        const int r = WrapAngle(n - GroundFanOffset);
        if (c % 8 == 0 && c + 8 <= width && a >= 7 && r >= 7) {
            const __m512d rcos = _mm512_cvtps_pd(_mm256_permutevar8x32_ps(_mm256_loadu_ps(RCosTable + r - 7), backwards));
            const __m512d cos = _mm512_cvtps_pd(_mm256_permutevar8x32_ps(_mm256_loadu_ps(CosTable + a - 7), backwards));
            const __m512d sin = _mm512_cvtps_pd(_mm256_permutevar8x32_ps(_mm256_loadu_ps(SinTable + a - 7), backwards));
            const __m512d reach = _mm512_mul_pd(vscale, rcos);
            // GroundReachX and GroundReachY eight at a time: the same
            // products, rounded to float once.
            _mm512_storeu_pd(dc + c, _mm512_cvtps_pd(_mm512_cvtpd_ps(_mm512_mul_pd(reach, cos))));
            _mm512_storeu_pd(ds + c, _mm512_cvtps_pd(_mm512_cvtpd_ps(_mm512_mul_pd(reach, sin))));
            c += 7;
            continue;
        }
        dc[c] = GroundReachX(scale, r, a);
        ds[c] = GroundReachY(scale, r, a);
    }
}

GROUND_AVX512 void GroundRowAvx512(const GroundRow& row, GroundLeftover& leftover)
{
    if (row.OnePitch)
        RowAvx512<true>(row, leftover);
    else
        RowAvx512<false>(row, leftover);
}

#pragma GCC diagnostic pop

#endif
