// How many values of a run lie strictly below a bound: an exact integer,
// so the loop may take the values in any grouping. NaN values, and every
// value against a NaN bound, count nothing.
#pragma once
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qel {

inline std::uint64_t count_below(const double* v, std::size_t n, double bound) {
    std::size_t i = 0;
    std::uint64_t c = 0;
#if defined(__SSE2__)
    // An all-ones lane per value below the bound, subtracted from 64-bit counters.
    const __m128d b = _mm_set1_pd(bound);
    __m128i acc0 = _mm_setzero_si128(), acc1 = _mm_setzero_si128();
    for (; i + 4 <= n; i += 4) {
        acc0 = _mm_sub_epi64(acc0, _mm_castpd_si128(_mm_cmplt_pd(_mm_loadu_pd(v + i), b)));
        acc1 = _mm_sub_epi64(acc1, _mm_castpd_si128(_mm_cmplt_pd(_mm_loadu_pd(v + i + 2), b)));
    }
    alignas(16) std::uint64_t lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), _mm_add_epi64(acc0, acc1));
    c = lanes[0] + lanes[1];
#endif
    for (; i < n; ++i) c += v[i] < bound ? 1 : 0;
    return c;
}

}  // namespace qel
