// The exact quotient of the fast ground renderer: Dc / k for every pixel of
// a row without a division, rounded to the very double the plain renderer's
// division gives.
//
// For k up to GroundReciprocalRows the quotient is p + t with p = Dc * High[k]
// and t = Dc * Low[k]: High[k] is 1 / k rounded to 26 significant bits, so
// that p is exact for any float Dc, and Low[k] is 1 / k - High[k] rounded to
// double. The sum rounds once, by an addition or a fused multiply-add, to
// the same double as the division. Rows farther down divide.
#pragma once

#if defined(__x86_64__)
#include <immintrin.h>
#endif

constexpr int GroundReciprocalRows = 1024;

struct GroundReciprocal {
    double High;
    double Low;
};

// Entries 1..GroundReciprocalRows; entry 0 is unused.
struct GroundReciprocalTable {
    GroundReciprocal Entries[GroundReciprocalRows + 1];

    GroundReciprocalTable();
};

#if defined(__x86_64__)

// Dc / k from the split reciprocal, at each instruction level: an exact
// product plus a rounded one, added (SSE2) or fused (AVX2, AVX-512).
inline __m128d GroundQuotientSse2(__m128d d, __m128d high, __m128d low)
{
    return _mm_add_pd(_mm_mul_pd(d, high), _mm_mul_pd(d, low));
}

__attribute__((target("avx2,fma"), always_inline)) inline __m256d GroundQuotientAvx2(__m256d d, __m256d high,
                                                                                     __m256d low)
{
    return _mm256_fmadd_pd(d, high, _mm256_mul_pd(d, low));
}

__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx2,fma"), always_inline)) inline __m512d
GroundQuotientAvx512(__m512d d, __m512d high, __m512d low)
{
    return _mm512_fmadd_pd(d, high, _mm512_mul_pd(d, low));
}

// The quotients on their own, as each level's row stage forms them, for the
// proof that they are the quotients the plain renderer divides for: out[i]
// for d[i], `count` a multiple of 8.
using GroundQuotientStage = void (*)(const double* d, int count, double high, double low, double* out);
void GroundQuotientsSse2(const double* d, int count, double high, double low, double* out);
void GroundQuotientsAvx2(const double* d, int count, double high, double low, double* out);
void GroundQuotientsAvx512(const double* d, int count, double high, double low, double* out);

#endif
