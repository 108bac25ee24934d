#include "engine/market.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <vector>

#include "engine/util/interrupt.hpp"
#include "engine/util/lanes.hpp"
#include "engine/util/pool.hpp"
#include "types/format.hpp"

namespace qel::market {
namespace detail {

std::optional<PlainError> short_input(std::span<const double> phases, std::size_t t, std::size_t n) {
    auto need = checked_mul(t, n);
    if (need && phases.size() >= *need) return std::nullopt;
    return InternalError(
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
using lanes::v2;

template <class T>
T splat(double x) {
    if constexpr (std::is_same_v<T, v2>)
        return v2{x, x};
    else
        return x;
}

// The window sums of the pairs (i0 + a, j0 + b), a < BI, b < BJ, over `window`
// rows of the tables starting at c and s, each summed from 0.0 in step order.
// The blocking only keeps the sums in registers (BJ even: two j per lane
// pair, BJ = 1 plain); every pair gets the same arithmetic whatever block it
// falls in. The value of (j, i) is written too: its real sum has the same
// terms and its imaginary sum the negated ones, so the magnitude is the same
// bit for bit.
template <std::size_t BI, std::size_t BJ>
void pair_block(const double* c, const double* s, std::size_t n, std::size_t window, std::size_t i0, std::size_t j0,
                double inv_w, double* out) {
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

constexpr std::size_t BI = 2, BJ = 4;

// Rows [r0, r1) of one window's n x n block: every pair (i, j) with i in the
// rows and j >= i, mirrored. With r0 a multiple of BJ, the pairs j < i that a
// diagonal block also covers fall in the same rows, so tasks that own
// different row ranges write different entries.
void window_rows(const double* c, const double* s, std::size_t n, std::size_t window, double inv_w, std::size_t r0,
                 std::size_t r1, double* out) {
    std::size_t i0 = r0;
    for (; i0 + BI <= r1; i0 += BI) {
        std::size_t j0 = i0 / BJ * BJ;
        for (; j0 + BJ <= n; j0 += BJ) pair_block<BI, BJ>(c, s, n, window, i0, j0, inv_w, out);
        for (; j0 < n; ++j0) pair_block<BI, 1>(c, s, n, window, i0, j0, inv_w, out);
    }
    for (; i0 < r1; ++i0) {
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

    // A task is a run of whole windows, or, when one window alone is much
    // more than a task's worth (few windows of many series), a range of rows
    // of one window. Work is counted in pair-steps.
    constexpr double kTask = 65536.0, kBatch = 134217728.0;
    const double window_work = static_cast<double>(window) * static_cast<double>(n) * static_cast<double>(n + 1) / 2.0;
    std::size_t rows = n;
    if (window_work > 2.0 * kTask) {
        const double row_work = static_cast<double>(window) * static_cast<double>(n) / 2.0;
        rows = static_cast<std::size_t>(std::clamp(kTask / row_work, 1.0, static_cast<double>(n)));
        rows = (rows + BJ - 1) / BJ * BJ;
    }
    const std::size_t parts = (n + rows - 1) / rows;
    const std::size_t windows_per_task =
        parts > 1 ? 1 : static_cast<std::size_t>(std::clamp(kTask / window_work, 1.0, 4096.0));
    // Windows between two looks at the caller's interrupt request.
    const std::size_t batch =
        windows_per_task * static_cast<std::size_t>(std::clamp(kBatch / (window_work * windows_per_task), 1.0, 4096.0));

    const std::size_t n_windows = t - window + 1;
    const std::size_t block = n * n;
    const double inv_w = 1.0 / static_cast<double>(window);
    for (std::size_t w0 = 0; w0 < n_windows; w0 += batch) {
        if (interrupted()) return false;
        const std::size_t count = std::min(batch, n_windows - w0);
        pool::for_chunks(count * parts, parts > 1 ? 1 : windows_per_task, [&](std::size_t begin, std::size_t end) {
            for (std::size_t item = begin; item < end; ++item) {
                const std::size_t w = w0 + item / parts, r0 = item % parts * rows;
                window_rows(cos_t.data() + w * n, sin_t.data() + w * n, n, window, inv_w, r0, std::min(n, r0 + rows),
                            out.data() + w * block);
            }
        });
    }
    return true;
}

}  // namespace detail
}  // namespace qel::market
