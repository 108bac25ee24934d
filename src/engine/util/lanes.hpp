// Vectors of doubles for loops that carry several independent sums at once.
// Lane-wise + - * / round exactly like the scalar operations (the build keeps
// -ffp-contract=off, so no product is fused into an add), so every lane has
// the bits of its own scalar computation, however wide the vector.
//
// v2 is what the baseline target has. v4 pays off in a copy compiled for
// AVX2 (target_clones, chosen at load time); in the baseline copy of the same
// function it is split into halves, with the same bits. Its calling
// convention depends on the target, so files that use it keep it inside
// inlined helpers and silence -Wpsabi (and nothing here takes one by value).
#pragma once
#include <cstddef>

namespace qel::lanes {

typedef double v2 __attribute__((vector_size(16)));
typedef double v4 __attribute__((vector_size(32)));

// Unaligned loads and stores of V's width from and to consecutive doubles.
template <class V>
inline V load(const double* p) {
    V v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}
template <class V>
inline void store(double* p, const V& v) {
    __builtin_memcpy(p, &v, sizeof v);
}

// Every lane x.
template <class V>
inline V splat(double x) {
    V v;
    for (std::size_t l = 0; l < sizeof(V) / sizeof(double); ++l) v[l] = x;
    return v;
}

}  // namespace qel::lanes
