#include "engine/carrier.hpp"

#include <cmath>

#include "engine/util/checked.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/pool_stop.hpp"

namespace qel::carrier {

double softplus(double x) {
    if (x > 20.0) return x;
    if (x < -20.0) return 0.0;
    return std::log(std::exp(x) + 1.0);
}

Result<std::vector<double>, PlainError> carrier_decode(std::span<const double> z, std::span<const double> a,
                                                       std::size_t n) {
    auto nn = buffer_len(n, n);
    if (!nn) return capacity_overflow();
    const std::size_t rows = *nn, m = z.size();
    if (m > 0 && rows > 0) {
        // Rows are read in order, so the first missing value is at len(a).
        auto need = checked_mul(rows, m);
        if (!need || a.size() < *need) return index_out_of_bounds(a.size(), a.size());
    }
    std::vector<double> k(rows, m == 0 ? std::log(2.0) : 0.0);
    if (m > 0) {
        // Four rows at a time: four independent sums, each in j order.
        auto block = [&](std::size_t r0, std::size_t r1) {
            std::size_t r = r0;
            for (; r + 4 <= r1; r += 4) {
                const double* a0 = a.data() + r * m;
                const double *a1 = a0 + m, *a2 = a1 + m, *a3 = a2 + m;
                double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
                for (std::size_t j = 0; j < m; ++j) {
                    const double zj = z[j];
                    s0 += a0[j] * zj;
                    s1 += a1[j] * zj;
                    s2 += a2[j] * zj;
                    s3 += a3[j] * zj;
                }
                k[r] = softplus(s0);
                k[r + 1] = softplus(s1);
                k[r + 2] = softplus(s2);
                k[r + 3] = softplus(s3);
            }
            for (; r < r1; ++r) {
                const double* ar = a.data() + r * m;
                double s = 0.0;
                for (std::size_t j = 0; j < m; ++j) s += ar[j] * z[j];
                k[r] = softplus(s);
            }
        };
        constexpr std::size_t kChunk = 256;                                         // rows per task
        const bool parallel = rows > kChunk && rows * m >= (std::size_t{1} << 16);  // checked above
        if (!pool::for_chunks_interruptible(rows, kChunk, parallel, block)) return interrupted_error();
    }
    for (std::size_t i = 0; i < n; ++i) k[i * n + i] = 0.0;
    return k;
}

}  // namespace qel::carrier
