#include "engine/market.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <vector>

#include "engine/util/interrupt.hpp"
#include "engine/util/pool.hpp"
#include "types/format.hpp"

namespace qel::market {
namespace detail {

std::optional<PlainError> short_input(std::span<const double> phases, std::size_t t, std::size_t n) {
    auto need = checked_mul(t, n);
    if (need && phases.size() >= *need) return std::nullopt;
    return PlainError::internal_error(
        text::cat("phases_flat holds ", phases.size(), " values, fewer than the t*n = ", t, "*", n, " its rows need"));
}

void order_parameter_into(const double* phases, std::size_t t, std::size_t n, std::span<double> out) {
    const double inv_n = 1.0 / static_cast<double>(n);
    // A few thousand phases per task outweigh the hand-off to a worker.
    const std::size_t chunk = std::max<std::size_t>(1, 4096 / n);
    pool::for_chunks(t, chunk, [&](std::size_t begin, std::size_t end) {
        for (std::size_t step = begin; step < end; ++step) {
            const double* row = phases + step * n;
            double sum_c = 0.0, sum_s = 0.0;
            for (std::size_t i = 0; i < n; ++i) {
                double s, c;
                ::sincos(row[i], &s, &c);
                sum_c += c;
                sum_s += s;
            }
            const double c = sum_c * inv_n, s = sum_s * inv_n;
            out[step] = std::sqrt(c * c + s * s);
        }
    });
}

namespace {

// Two lanes of doubles; lane-wise + and * round exactly like the scalar ones.
typedef double v2 __attribute__((vector_size(16)));

template <class T>
T splat(double x) {
    if constexpr (std::is_same_v<T, v2>) return v2{x, x};
    else return x;
}

// The window sums of the pairs (i0 + a, j0 + b), a < BI, b < BJ, over `window`
// rows of the tables starting at c and s, each summed from 0.0 in step order.
// The blocking only keeps the sums in registers (BJ even: two j per lane
// pair, BJ = 1 plain); every pair gets the same arithmetic whatever block it
// falls in. The value of (j, i) is written too: its real sum has the same
// terms and its imaginary sum the negated ones, so the magnitude is the same
// bit for bit.
template <std::size_t BI, std::size_t BJ>
void pair_block(const double* c, const double* s, std::size_t n, std::size_t window, std::size_t i0,
                std::size_t j0, double inv_w, double* out) {
    constexpr bool lanes = BJ % 2 == 0;
    using T = std::conditional_t<lanes, v2, double>;
    constexpr std::size_t NV = lanes ? BJ / 2 : BJ;
    T re[BI][NV] = {};
    T im[BI][NV] = {};
    for (std::size_t k = 0; k < window; ++k) {
        const double* cr = c + k * n + j0;
        const double* sr = s + k * n + j0;
        T cj[NV], sj[NV];
        std::memcpy(cj, cr, sizeof cj);
        std::memcpy(sj, sr, sizeof sj);
        for (std::size_t a = 0; a < BI; ++a) {
            const T ci = splat<T>(c[k * n + i0 + a]), si = splat<T>(s[k * n + i0 + a]);
            for (std::size_t b = 0; b < NV; ++b) {
                re[a][b] += ci * cj[b] + sj[b] * si;
                im[a][b] += ci * sj[b] - si * cj[b];
            }
        }
    }
    for (std::size_t a = 0; a < BI; ++a) {
        for (std::size_t b = 0; b < BJ; ++b) {
            double r, m;
            if constexpr (lanes) {
                r = re[a][b / 2][b % 2] * inv_w;
                m = im[a][b / 2][b % 2] * inv_w;
            } else {
                r = re[a][b] * inv_w;
                m = im[a][b] * inv_w;
            }
            const double v = std::sqrt(r * r + m * m);
            out[(i0 + a) * n + j0 + b] = v;
            out[(j0 + b) * n + i0 + a] = v;
        }
    }
}

// One window's n x n block: every pair with j >= i, mirrored.
void window_block(const double* c, const double* s, std::size_t n, std::size_t window, double inv_w, double* out) {
    constexpr std::size_t BI = 2, BJ = 4;
    std::size_t i0 = 0;
    for (; i0 + BI <= n; i0 += BI) {
        std::size_t j0 = i0 / BJ * BJ;
        for (; j0 + BJ <= n; j0 += BJ) pair_block<BI, BJ>(c, s, n, window, i0, j0, inv_w, out);
        for (; j0 < n; ++j0) pair_block<BI, 1>(c, s, n, window, i0, j0, inv_w, out);
    }
    for (; i0 < n; ++i0) {
        std::size_t j0 = i0;
        for (; j0 + BJ <= n; j0 += BJ) pair_block<1, BJ>(c, s, n, window, i0, j0, inv_w, out);
        for (; j0 < n; ++j0) pair_block<1, 1>(c, s, n, window, i0, j0, inv_w, out);
    }
}

}  // namespace

bool plv_into(const double* phases, std::size_t t, std::size_t n, std::size_t window, std::span<double> out) {
    // Cosines and sines of every phase once, rather than of every row once per
    // window that covers it: the same values, W times fewer evaluations.
    const std::size_t tn = t * n;
    std::vector<double> cos_t(tn), sin_t(tn);
    pool::for_chunks(tn, 4096, [&](std::size_t begin, std::size_t end) {
        for (std::size_t k = begin; k < end; ++k) ::sincos(phases[k], &sin_t[k], &cos_t[k]);
    });

    const std::size_t n_windows = t - window + 1;
    const std::size_t block = n * n;
    const double inv_w = 1.0 / static_cast<double>(window);
    // Pair-steps of one window decide how many windows make a task, and how
    // many tasks run between two looks at the caller's interrupt request.
    const double work = static_cast<double>(window) * static_cast<double>(n) * static_cast<double>(n + 1) / 2.0;
    const std::size_t chunk = static_cast<std::size_t>(std::clamp(65536.0 / work, 1.0, 4096.0));
    const std::size_t batch = chunk * static_cast<std::size_t>(std::clamp(134217728.0 / (work * chunk), 1.0, 4096.0));
    for (std::size_t w0 = 0; w0 < n_windows; w0 += batch) {
        if (interrupted()) return false;
        const std::size_t count = std::min(batch, n_windows - w0);
        pool::for_chunks(count, chunk, [&](std::size_t begin, std::size_t end) {
            for (std::size_t w = w0 + begin; w < w0 + end; ++w)
                window_block(cos_t.data() + w * n, sin_t.data() + w * n, n, window, inv_w, out.data() + w * block);
        });
    }
    return true;
}

}  // namespace detail
}  // namespace qel::market
