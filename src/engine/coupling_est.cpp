#include "engine/coupling_est.hpp"

#include <atomic>
#include <cmath>
#include <new>
#include <utility>

#include "engine/util/checked.hpp"
#include "engine/util/finite.hpp"
#include "engine/util/gauss.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"
#include "engine/util/lanes.hpp"
#include "engine/util/pool.hpp"
#include "engine/util/pool_stop.hpp"
#include "engine/util/unwrap.hpp"
#include "engine/util/wrap.hpp"

namespace qel::coupling_est {

namespace {

// Pivots and diagonal entries below this magnitude count as zero.
constexpr double kPivotFloor = 1e-14;
// Increments up to this magnitude are brought into [-pi, pi] by whole turns
// one at a time, as the model defines them (at most 16 steps). Larger ones,
// where the stepwise loop would run for hours or, from about 2^53, forever,
// first take the exact floating remainder; an infinite one becomes NaN.
constexpr double kStepwiseLimit = 16.0 * kTwoPi;
// Derivative entries between two looks at Ctrl-C.
constexpr std::size_t kCheckEvery = std::size_t{1} << 20;

double wrapped_increment(double d) {
    if (!(std::fabs(d) <= kStepwiseLimit)) d = std::fmod(d, kTwoPi);
    return principal_step(d);
}

// Samples per block of the per-node sine table: the sums run over samples in
// ascending order across blocks, so the block length changes no bit; it only
// keeps a block (256 KiB) in each worker's cache while the Gram rows read it.
std::size_t block_len(std::size_t n) {
    const std::size_t b = (std::size_t{1} << 15) / n;
    return b < 64 ? 64 : (b > 4096 ? 4096 : b);
}

// Solves G x = r in place by elimination with partial pivoting; columns whose
// pivot is below the floor are skipped and their unknowns stay 0.
void eliminate(std::vector<double>& g, std::vector<double>& r, std::vector<double>& x, std::size_t n) {
    gauss::forward_eliminate(g, r, n, kPivotFloor);
    for (std::size_t k = n; k-- > 0;) {
        const double diag = g[k * n + k];
        if (std::fabs(diag) < kPivotFloor) continue;
        double v = r[k];
        for (std::size_t j = k + 1; j < n; ++j) v = v - g[k * n + j] * x[j];
        x[k] = v / diag;
    }
}

// Two lanes of doubles; the per-lane arithmetic is that of plain doubles.
using Lanes = lanes::v2;

inline Lanes load(const double* p) { return lanes::load<Lanes>(p); }
inline void store(double* p, Lanes v) { lanes::store(p, v); }

// g[a*n + b] += sum over k < kb of s_a(k) * s_b(k), terms added in
// ascending k, for the R rows a = a0 .. a0+R-1 and every b >= a0 (row a0+1
// also gets its entry left of the diagonal, which the mirroring overwrites
// with the same value). tab holds kb samples of n regressors, sample-major.
// Two rows by eight columns stay in registers through the block, so each
// sample of the table is read once per pair of rows.
template <int R>
void gram_rows(double* g, const double* tab, std::size_t n, std::size_t kb, std::size_t a0) {
    std::size_t b = a0;
    for (; b + 8 <= n; b += 8) {
        Lanes acc[R][4];
        for (int r = 0; r < R; ++r)
            for (int j = 0; j < 4; ++j) acc[r][j] = load(g + (a0 + r) * n + b + 2 * j);
        for (std::size_t k = 0; k < kb; ++k) {
            const double* sk = tab + k * n;
            const Lanes x0 = load(sk + b), x1 = load(sk + b + 2), x2 = load(sk + b + 4), x3 = load(sk + b + 6);
            for (int r = 0; r < R; ++r) {
                const Lanes sa = {sk[a0 + r], sk[a0 + r]};
                acc[r][0] = acc[r][0] + sa * x0;
                acc[r][1] = acc[r][1] + sa * x1;
                acc[r][2] = acc[r][2] + sa * x2;
                acc[r][3] = acc[r][3] + sa * x3;
            }
        }
        for (int r = 0; r < R; ++r)
            for (int j = 0; j < 4; ++j) store(g + (a0 + r) * n + b + 2 * j, acc[r][j]);
    }
    for (int r = 0; r < R; ++r) {
        const std::size_t a = a0 + r;
        for (std::size_t c = b; c < n; ++c) {
            double acc = g[a * n + c];
            for (std::size_t k = 0; k < kb; ++k) acc += tab[k * n + a] * tab[k * n + c];
            g[a * n + c] = acc;
        }
    }
}

}  // namespace

void solve_node(const Series& s, std::size_t i, std::span<double> row, const pool::Stop* stop) {
    const std::size_t n = s.n, m = s.t - 1, blk = block_len(n);
    std::vector<double> y(m);
    const double* di = s.deriv + i * m;
    for (std::size_t k = 0; k < m; ++k) y[k] = di[k] - s.omegas[i];
    std::vector<double> g(n * n, 0.0), r(n, 0.0), x(n, 0.0);
    // One block of regressors s_a(k) = sin(theta_a(k) - theta_i(k)), by
    // oscillator as the sines are computed and by sample for the Gram rows.
    std::vector<double> by_osc(n * blk), by_sample(n * blk);
    const double* theta_i = s.phases + i * s.t;
    for (std::size_t k0 = 0; k0 < m; k0 += blk) {
        if (stop && (*stop)()) return;
        const std::size_t kb = m - k0 < blk ? m - k0 : blk;
        // Entries of r, one oscillator each; every sum continues in ascending k.
        pool::for_each_index(n, [&](std::size_t a) {
            const double* theta_a = s.phases + a * s.t + k0;
            double* sa = by_osc.data() + a * blk;
            double acc = r[a];
            for (std::size_t k = 0; k < kb; ++k) {
                sa[k] = std::sin(theta_a[k] - theta_i[k0 + k]);
                acc += sa[k] * y[k0 + k];
            }
            r[a] = acc;
        });
        for (std::size_t a = 0; a < n; ++a)
            for (std::size_t k = 0; k < kb; ++k) by_sample[k * n + a] = by_osc[a * blk + k];
        // Rows of G, two per item. G is symmetric term by term (s_a s_b =
        // s_b s_a), so row a sums only b >= a and the rest is mirrored afterwards.
        pool::for_each_index((n + 1) / 2, [&](std::size_t pair) {
            const std::size_t a = 2 * pair;
            if (a + 1 < n)
                gram_rows<2>(g.data(), by_sample.data(), n, kb, a);
            else
                gram_rows<1>(g.data(), by_sample.data(), n, kb, a);
        });
    }
    for (std::size_t a = 0; a < n; ++a)
        for (std::size_t b = a + 1; b < n; ++b) g[b * n + a] = g[a * n + b];
    eliminate(g, r, x, n);
    for (std::size_t j = 0; j < n; ++j) row[j] = j == i ? 0.0 : x[j];
}

Result<std::vector<double>, PlainError> estimate_coupling(std::span<const double> phases,
                                                          std::span<const double> omegas, std::size_t n, std::size_t t,
                                                          double dt) {
    if (n == 0) return std::vector<double>{};
    auto nn = buffer_len(n, n);
    if (!nn) return capacity_overflow();
    std::vector<double> out(*nn, 0.0);
    if (t < 3) return out;
    auto nt = checked_mul(n, t);
    if (!nt || phases.size() != *nt) return out;
    if (omegas.size() != n || !(dt > 0.0 && std::isfinite(dt))) return out;
    if (!all_finite(phases) || !all_finite(omegas)) return out;

    const std::size_t m = t - 1;
    std::vector<double> deriv(n * m);
    for (std::size_t i = 0; i < n; ++i) {
        const double* th = phases.data() + i * t;
        double* d = deriv.data() + i * m;
        for (std::size_t k = 0; k < m; ++k) d[k] = wrapped_increment(th[k + 1] - th[k]) / dt;
        if ((i + 1) % (kCheckEvery / m + 1) == 0 && i + 1 < n && interrupted()) return interrupted_error();
    }

    const Series series{phases.data(), deriv.data(), omegas.data(), n, t};
    // A node that cannot get its working storage is reported after the loop.
    std::atomic<bool> out_of_memory{false};
    const bool complete = pool::for_each_index_stoppable(n, [&](std::size_t i, const pool::Stop& stop) {
        try {
            pool::isolated([&] { solve_node(series, i, std::span<double>(out).subspan(i * n, n), &stop); });
        } catch (const std::bad_alloc&) {
            out_of_memory.store(true, std::memory_order_relaxed);
        }
    });
    if (out_of_memory.load()) throw std::bad_alloc();
    if (!complete) return interrupted_error();
    return out;
}

}  // namespace qel::coupling_est
