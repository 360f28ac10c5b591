// The AVX2 row stage: the SSE2 stage's work on eight columns a vector, the
// quotient fused, every step left to the scalar stage. The function carries
// its own target, so this file builds for the x86-64 baseline.
#include "render/fast/ground_quotient.h"
#include "render/fast/ground_rows.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include "render/ground.h"

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
            const __m256d qx0 = GroundQuotientAvx2(dc0, vh, vl);
            const __m256d qx1 = GroundQuotientAvx2(dc1, vh, vl);
            const __m256d qy0 = GroundQuotientAvx2(ds0, vh, vl);
            const __m256d qy1 = GroundQuotientAvx2(ds1, vh, vl);
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
    GroundLeaveEveryStep(row, leftover, steps);
}

#endif
