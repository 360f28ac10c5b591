// The split reciprocals of the fast ground renderer's rows, and its quotient
// at each instruction level on its own, for the proof that it is exact.
#include "render/fast/ground_quotient.h"

GroundReciprocalTable::GroundReciprocalTable()
{
    Entries[0] = GroundReciprocal{0.0, 0.0};
    for (int k = 1; k <= GroundReciprocalRows; ++k) {
        const double reciprocal = 1.0 / k;
        // Veltkamp's split: `high` keeps the leading 26 significant bits of
        // 1 / k, so that its product with any float is exact.
        const double spread = reciprocal * 134217729.0;  // 2^27 + 1
        const double high = spread - (spread - reciprocal);
        // high * k is exact (26 + 11 bits) and near 1, so 1 - high * k is
        // exact too; one division rounds what remains of 1 / k.
        const double low = (1.0 - high * k) / k;
        Entries[k] = GroundReciprocal{high, low};
    }
}

#if defined(__x86_64__)

void GroundQuotientsSse2(const double* d, int count, double high, double low, double* out)
{
    const __m128d vh = _mm_set1_pd(high);
    const __m128d vl = _mm_set1_pd(low);
    for (int i = 0; i < count; i += 2)
        _mm_storeu_pd(out + i, GroundQuotientSse2(_mm_loadu_pd(d + i), vh, vl));
}

__attribute__((target("avx2,fma"))) void GroundQuotientsAvx2(const double* d, int count, double high, double low,
                                                             double* out)
{
    const __m256d vh = _mm256_set1_pd(high);
    const __m256d vl = _mm256_set1_pd(low);
    for (int i = 0; i < count; i += 4)
        _mm256_storeu_pd(out + i, GroundQuotientAvx2(_mm256_loadu_pd(d + i), vh, vl));
}

__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx2,fma"))) void GroundQuotientsAvx512(
    const double* d, int count, double high, double low, double* out)
{
    const __m512d vh = _mm512_set1_pd(high);
    const __m512d vl = _mm512_set1_pd(low);
    for (int i = 0; i < count; i += 8)
        _mm512_storeu_pd(out + i, GroundQuotientAvx512(_mm512_loadu_pd(d + i), vh, vl));
}

#endif
