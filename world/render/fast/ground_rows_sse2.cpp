// The SSE2 row stage, the x86-64 baseline: the texels of sixteen columns
// at a time found and packed, every step left to the scalar stage.
#include "render/fast/ground_quotient.h"
#include "render/fast/ground_rows.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include "render/ground.h"

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
            const __m128d qx0 = GroundQuotientSse2(dc0, vh, vl);
            const __m128d qx1 = GroundQuotientSse2(dc1, vh, vl);
            const __m128d qy0 = GroundQuotientSse2(ds0, vh, vl);
            const __m128d qy1 = GroundQuotientSse2(ds1, vh, vl);
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
    GroundLeaveEveryStep(row, leftover, steps);
}

#endif
