// Forward elimination with partial pivoting, shared by the least-squares fits
// that solve their normal equations; each keeps its own back substitution,
// whose rounding its model fixes.
#pragma once
#include <cmath>
#include <cstddef>
#include <span>
#include <utility>

namespace qel::gauss {

// Reduces the row-major n x n matrix g and the right-hand side r in place to
// upper-triangular form. The pivot of column c is the first row at or below c
// with the largest magnitude (a NaN is never chosen); a column whose pivot is
// below `floor` is left as it is and skipped.
inline void forward_eliminate(std::span<double> g, std::span<double> r, std::size_t n, double floor) {
    for (std::size_t c = 0; c < n; ++c) {
        double best = 0.0;
        std::size_t p = c;
        for (std::size_t q = c; q < n; ++q) {
            const double v = std::fabs(g[q * n + c]);
            if (v > best) {
                best = v;
                p = q;
            }
        }
        if (best < floor) continue;
        if (p != c) {
            for (std::size_t j = 0; j < n; ++j) std::swap(g[p * n + j], g[c * n + j]);
            std::swap(r[p], r[c]);
        }
        const double* gc = g.data() + c * n;
        for (std::size_t q = c + 1; q < n; ++q) {
            double* gq = g.data() + q * n;
            const double f = gq[c] / gc[c];
            for (std::size_t j = c; j < n; ++j) gq[j] = gq[j] - gc[j] * f;
            r[q] = r[q] - f * r[c];
        }
    }
}

}  // namespace qel::gauss
