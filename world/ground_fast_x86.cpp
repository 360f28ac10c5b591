// The per-row work of the fast ground renderer at each x86 instruction
// level. Each function carries its own target, so this file builds for the
// x86-64 baseline and only the function chosen at run time uses more.
//
// The arithmetic of every level is the same and exact:
//   q = Dc * high + Dc * low, the first product exact (high has 26
//       significant bits, Dc 24), rounded once in the sum, by an addition
//       or by a fused multiply-add; both give the double nearest Dc / k;
//   gx = trunc(x + q), gy = trunc(y - q'), in range by the checks made
//       before any row is drawn, so the conversions are exact truncations;
//   tx = gx >> 5 and ty = gy >> 5 (arithmetic), on the map when both lie
//       in 0..63, that is when neither has a bit outside the low six.
// The vector stage finds the texels of sixteen columns at a time. At the
// AVX-512 level it also copies the sixteen texels itself when they lie in
// one cell and within eight rows of its frame, which most do; the scalar
// stage copies the other steps while the next row's vector stage runs.
#include "ground_fast_kernels.h"

#include "ground.h"
#include "tables.h"

#if defined(__x86_64__)

#include <immintrin.h>

// GCC 12's AVX-512 headers build set1 and cvtt from a deliberately undefined
// vector, which its own flow analysis then reports as maybe uninitialised.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

namespace {


// The end of a row's vector stage: copies the previous row's leftover steps
// from `copied` on, then leaves this row's `count` steps `left` in their
// place.
inline void HandOver(const GroundRow& row, GroundLeftover& leftover, int copied, const uint8_t* left, int count)
{
    for (int n = copied; n < leftover.Count; ++n)
        GroundCopyLeftoverStep(row, leftover, n);
    for (int n = 0; n < count; ++n)
        leftover.Steps[n] = left[n];
    leftover.Count = count;
    leftover.Packed = row.Packed;
    leftover.Dest = row.Dest;
}

// Every step of a row to the scalar stage, as the levels without lookups in
// registers leave them.
inline void LeaveEveryStep(const GroundRow& row, GroundLeftover& leftover, int steps)
{
    static const struct EverySteps {
        uint8_t Steps[GroundMaxSteps];
        EverySteps()
        {
            for (int n = 0; n < GroundMaxSteps; ++n)
                Steps[n] = static_cast<uint8_t>(n);
        }
    } every;
    HandOver(row, leftover, steps, every.Steps, steps);
}

// Dc / k from the split reciprocal, at each level: an exact product plus a
// rounded one, added (SSE2) or fused (AVX2, AVX-512).
inline __m128d QuotientSse2(__m128d d, __m128d high, __m128d low)
{
    return _mm_add_pd(_mm_mul_pd(d, high), _mm_mul_pd(d, low));
}

__attribute__((target("avx2,fma"), always_inline)) inline __m256d QuotientAvx2(__m256d d, __m256d high, __m256d low)
{
    return _mm256_fmadd_pd(d, high, _mm256_mul_pd(d, low));
}

__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx2,fma"), always_inline)) inline __m512d QuotientAvx512(
    __m512d d, __m512d high, __m512d low)
{
    return _mm512_fmadd_pd(d, high, _mm512_mul_pd(d, low));
}

}  // namespace

void GroundQuotientsSse2(const double* d, int count, double high, double low, double* out)
{
    const __m128d vh = _mm_set1_pd(high);
    const __m128d vl = _mm_set1_pd(low);
    for (int i = 0; i < count; i += 2)
        _mm_storeu_pd(out + i, QuotientSse2(_mm_loadu_pd(d + i), vh, vl));
}

__attribute__((target("avx2,fma"))) void GroundQuotientsAvx2(const double* d, int count, double high, double low,
                                                             double* out)
{
    const __m256d vh = _mm256_set1_pd(high);
    const __m256d vl = _mm256_set1_pd(low);
    for (int i = 0; i < count; i += 4)
        _mm256_storeu_pd(out + i, QuotientAvx2(_mm256_loadu_pd(d + i), vh, vl));
}

__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx2,fma"))) void GroundQuotientsAvx512(
    const double* d, int count, double high, double low, double* out)
{
    const __m512d vh = _mm512_set1_pd(high);
    const __m512d vl = _mm512_set1_pd(low);
    for (int i = 0; i < count; i += 8)
        _mm512_storeu_pd(out + i, QuotientAvx512(_mm512_loadu_pd(d + i), vh, vl));
}

void GroundRowSse2(const GroundRow& row, GroundLeftover& leftover)
{
    const __m128d vx = _mm_set1_pd(row.X);
    const __m128d vy = _mm_set1_pd(row.Y);
    const __m128d vh = _mm_set1_pd(row.High);
    const __m128d vl = _mm_set1_pd(row.Low);
    const __m128i outside = _mm_set1_epi32(~63);
    const __m128i low5 = _mm_set1_epi32(31);
    const __m128i offMap = _mm_set1_epi32(OffMapSource);
    const __m128i vpitch = _mm_set1_epi32(row.Pitch);
    const bool onePitch = row.OnePitch;
    const double* dc = row.DC;
    const double* ds = row.DS;
    uint32_t* packed = row.Packed;
    int steps = 0;
    for (int first = 0; first < row.Width; first += GroundColumnsPerStep, ++steps) {
        for (int c = first; c < first + GroundColumnsPerStep; c += 4) {
            const __m128d dc0 = _mm_load_pd(dc + c);
            const __m128d dc1 = _mm_load_pd(dc + c + 2);
            const __m128d ds0 = _mm_load_pd(ds + c);
            const __m128d ds1 = _mm_load_pd(ds + c + 2);
            const __m128d qx0 = QuotientSse2(dc0, vh, vl);
            const __m128d qx1 = QuotientSse2(dc1, vh, vl);
            const __m128d qy0 = QuotientSse2(ds0, vh, vl);
            const __m128d qy1 = QuotientSse2(ds1, vh, vl);
            const __m128i gx = _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_add_pd(vx, qx0)),
                                                  _mm_cvttpd_epi32(_mm_add_pd(vx, qx1)));
            const __m128i gy = _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_sub_pd(vy, qy0)),
                                                  _mm_cvttpd_epi32(_mm_sub_pd(vy, qy1)));
            const __m128i tx = _mm_srai_epi32(gx, 5);
            const __m128i ty = _mm_srai_epi32(gy, 5);
            const __m128i onMap =
                _mm_cmpeq_epi32(_mm_and_si128(_mm_or_si128(tx, ty), outside), _mm_setzero_si128());
            const __m128i cell = _mm_or_si128(_mm_slli_epi32(tx, 6), ty);
            const __m128i source = _mm_or_si128(_mm_and_si128(onMap, cell), _mm_andnot_si128(onMap, offMap));
            // The row (below 32) times the pitch (below 2^11), from the low
            // and the high halves of 16-bit products: SSE2 has no 32-bit
            // multiply.
            const __m128i texelRow = _mm_and_si128(gy, low5);
            const __m128i rowStart = _mm_or_si128(_mm_mullo_epi16(texelRow, vpitch),
                                                  _mm_slli_epi32(_mm_mulhi_epu16(texelRow, vpitch), 16));
            const __m128i texel = _mm_add_epi32(rowStart, _mm_and_si128(gx, low5));
            // The two forms, with shifts by constants.
            const __m128i result =
                onePitch ? _mm_or_si128(source, _mm_slli_epi32(texel, GroundOnePitchColumnShift))
                         : _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(source, GroundRowsCellShift), _mm_and_si128(gy, low5)),
                                         _mm_slli_epi32(texel, GroundRowsColumnShift));
            _mm_store_si128(reinterpret_cast<__m128i*>(packed + c), result);
        }
        if (steps < leftover.Count)
            GroundCopyLeftoverStep(row, leftover, steps);
    }
    LeaveEveryStep(row, leftover, steps);
}

__attribute__((target("avx2,fma"))) void GroundRowAvx2(const GroundRow& row, GroundLeftover& leftover)
{
    const __m256d vx = _mm256_set1_pd(row.X);
    const __m256d vy = _mm256_set1_pd(row.Y);
    const __m256d vh = _mm256_set1_pd(row.High);
    const __m256d vl = _mm256_set1_pd(row.Low);
    const __m256i outside = _mm256_set1_epi32(~63);
    const __m256i low5 = _mm256_set1_epi32(31);
    const __m256i offMap = _mm256_set1_epi32(OffMapSource);
    const __m256i vpitch = _mm256_set1_epi32(row.Pitch);
    const bool onePitch = row.OnePitch;
    const double* dc = row.DC;
    const double* ds = row.DS;
    uint32_t* packed = row.Packed;
    int steps = 0;
    for (int first = 0; first < row.Width; first += GroundColumnsPerStep, ++steps) {
        for (int c = first; c < first + GroundColumnsPerStep; c += 8) {
            const __m256d dc0 = _mm256_load_pd(dc + c);
            const __m256d dc1 = _mm256_load_pd(dc + c + 4);
            const __m256d ds0 = _mm256_load_pd(ds + c);
            const __m256d ds1 = _mm256_load_pd(ds + c + 4);
            const __m256d qx0 = QuotientAvx2(dc0, vh, vl);
            const __m256d qx1 = QuotientAvx2(dc1, vh, vl);
            const __m256d qy0 = QuotientAvx2(ds0, vh, vl);
            const __m256d qy1 = QuotientAvx2(ds1, vh, vl);
            const __m256i gx = _mm256_set_m128i(_mm256_cvttpd_epi32(_mm256_add_pd(vx, qx1)),
                                                _mm256_cvttpd_epi32(_mm256_add_pd(vx, qx0)));
            const __m256i gy = _mm256_set_m128i(_mm256_cvttpd_epi32(_mm256_sub_pd(vy, qy1)),
                                                _mm256_cvttpd_epi32(_mm256_sub_pd(vy, qy0)));
            const __m256i tx = _mm256_srai_epi32(gx, 5);
            const __m256i ty = _mm256_srai_epi32(gy, 5);
            const __m256i onMap =
                _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_or_si256(tx, ty), outside), _mm256_setzero_si256());
            const __m256i cell = _mm256_or_si256(_mm256_slli_epi32(tx, 6), ty);
            const __m256i source = _mm256_blendv_epi8(offMap, cell, onMap);
            const __m256i rowStart = _mm256_mullo_epi32(_mm256_and_si256(gy, low5), vpitch);
            const __m256i texel = _mm256_add_epi32(rowStart, _mm256_and_si256(gx, low5));
            const __m256i result =
                onePitch ? _mm256_or_si256(source, _mm256_slli_epi32(texel, GroundOnePitchColumnShift))
                         : _mm256_add_epi32(_mm256_add_epi32(_mm256_slli_epi32(source, GroundRowsCellShift),
                                                             _mm256_and_si256(gy, low5)),
                                            _mm256_slli_epi32(texel, GroundRowsColumnShift));
            _mm256_store_si256(reinterpret_cast<__m256i*>(packed + c), result);
        }
        if (steps < leftover.Count)
            GroundCopyLeftoverStep(row, leftover, steps);
    }
    LeaveEveryStep(row, leftover, steps);
}

// Eight rows of one frame, from `top` on, rows `pitch` texels apart: the
// sixteen texels at `index` ((row - first row) * 32 + column, one 16-bit
// index a lane in the low half) picked out of registers, two rows (64
// texels) a permute.
__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx2,fma"), always_inline)) inline __m256i EightRowTexels(
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

#define GROUND_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx2,fma")))

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
        const __m512d qx0 = QuotientAvx512(dc0, vh, vl);
        const __m512d qx1 = QuotientAvx512(dc1, vh, vl);
        const __m512d qy0 = QuotientAvx512(ds0, vh, vl);
        const __m512d qy1 = QuotientAvx512(ds1, vh, vl);
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
    HandOver(row, leftover, step, left, leftCount);
}

GROUND_AVX512 bool GroundSameKeysAvx512(const void* cells, const uint32_t* keys, uint32_t keyBytes)
{
    // The last word of each of eight cells (two vectors of four), picked
    // out by one permute.
    const __m512i lastWords = _mm512_setr_epi32(3, 7, 11, 15, 19, 23, 27, 31, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i mask = _mm256_set1_epi32(static_cast<int>(keyBytes));
    const char* cell = static_cast<const char*>(cells);
    __m256i differ = _mm256_setzero_si256();
    for (int n = 0; n < 4096; n += 8, cell += 8 * 16) {
        const __m512i words = _mm512_permutex2var_epi32(_mm512_loadu_si512(cell), lastWords,
                                                        _mm512_loadu_si512(cell + 64));
        const __m256i kept = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(keys + n));
        // differ | ((words & mask) ^ kept)
        differ = _mm256_or_si256(differ, _mm256_ternarylogic_epi32(_mm512_extracti64x4_epi64(words, 0), mask, kept, 0x6A));
    }
    return _mm256_testz_si256(differ, differ);
}

GROUND_AVX512 void GroundCopyFrameAvx512(const uint16_t* from, int32_t pitch, uint16_t* block)
{
    for (int row = 0; row < CellSize; ++row) {
        const __m512i texels = _mm512_loadu_si512(from + row * pitch);
        uint16_t* to = block + row * CellSize;
        if (_mm512_cmpneq_epi16_mask(texels, _mm512_load_si512(to)) != 0)
            _mm512_store_si512(to, texels);
    }
}

GROUND_AVX512 void GroundReachAvx512(const float* cosTable, const float* sinTable, const float* rcosTable,
                                     double scale, int angle, int width, double* dc, double* ds)
{
    auto wrap = [](int value) { return value < 0 ? value + AngleSteps : value >= AngleSteps ? value - AngleSteps : value; };
    // Columns c..c+7 read the tables from index a - 7 up to a (and r - 7 up
    // to r), backwards.
    const __m256i backwards = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
    const __m512d vscale = _mm512_set1_pd(scale);
    int c = 0;
    for (; c < width; ++c) {
        const int n = width - 1 - c;
        const int a = wrap(angle - GroundFanOffset + n);
        const int r = wrap(n - GroundFanOffset);
        if (c % 8 == 0 && c + 8 <= width && a >= 7 && r >= 7) {
            const __m512d rcos = _mm512_cvtps_pd(_mm256_permutevar8x32_ps(_mm256_loadu_ps(rcosTable + r - 7), backwards));
            const __m512d cos = _mm512_cvtps_pd(_mm256_permutevar8x32_ps(_mm256_loadu_ps(cosTable + a - 7), backwards));
            const __m512d sin = _mm512_cvtps_pd(_mm256_permutevar8x32_ps(_mm256_loadu_ps(sinTable + a - 7), backwards));
            const __m512d reach = _mm512_mul_pd(vscale, rcos);
            // Rounded to float once, as the plain renderer rounds.
            _mm512_storeu_pd(dc + c, _mm512_cvtps_pd(_mm512_cvtpd_ps(_mm512_mul_pd(reach, cos))));
            _mm512_storeu_pd(ds + c, _mm512_cvtps_pd(_mm512_cvtpd_ps(_mm512_mul_pd(reach, sin))));
            c += 7;
            continue;
        }
        dc[c] = static_cast<float>(scale * rcosTable[r] * cosTable[a]);
        ds[c] = static_cast<float>(scale * rcosTable[r] * sinTable[a]);
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
