#include "engine/sindy.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include "engine/util/checked.hpp"
#include "engine/util/finite.hpp"
#include "engine/util/gauss.hpp"
#include "engine/util/gram.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/pool.hpp"
#include "engine/util/pool_stop.hpp"
#include "engine/util/wrap.hpp"
#include "types/format.hpp"

namespace qel::sindy {

namespace {

constexpr double kTiny = 1e-14;

// Least squares theta x ~ b runs on the normal equations: normal_equations
// forms them, solve_normal solves them.

// G = theta^T theta (every entry a sum over the rows in order, row tiles in
// parallel) and r = theta^T b.
void normal_equations(const double* theta, const double* b, std::size_t rows, std::size_t cols, double* g, double* r,
                      const pool::Stop& stop) {
    const std::size_t tiles = (cols + 3) / 4;
    pool::for_each_index(tiles, [&](std::size_t tile) {
        if (stop()) return;  // the caller discards g and r
        const std::size_t a0 = tile * 4, a1 = std::min(a0 + 4, cols);
        gram::gram_rows(theta, cols, rows, cols, a0, a1, g, cols);
        gram::cross(theta, cols, b, 1, rows, a0, a1, 0, 1, r, 1);
    });
    gram::mirror_upper(g, cols, cols);
}

// Solves g x = r in place: forward elimination with partial pivoting that
// skips columns whose pivot is below 1e-14, then back substitution that
// leaves such coefficients at 0.0.
std::vector<double> solve_normal(std::vector<double>& g, std::vector<double>& r, std::size_t n) {
    gauss::forward_eliminate(g, r, n, kTiny);
    std::vector<double> x(n, 0.0);
    for (std::size_t i = n; i-- > 0;) {
        const double d = g[i * n + i];
        if (std::fabs(d) < kTiny) continue;
        double s = 0.0;
        for (std::size_t j = i + 1; j < n; ++j) s += g[i * n + j] * x[j];
        x[i] = (r[i] - s) / d;
    }
    return x;
}

// Forward differences folded twice into [-pi, pi], over dt; time-major.
std::vector<double> velocities(std::span<const double> phases, std::size_t n, std::size_t steps, double dt) {
    std::vector<double> v(steps * n);
    for (std::size_t t = 0; t < steps; ++t)
        for (std::size_t i = 0; i < n; ++i) {
            double d = phases[(t + 1) * n + i] - phases[t * n + i];
            for (int pass = 0; pass < 2; ++pass) {
                if (d > std::numbers::pi)
                    d -= kTwoPi;
                else if (d < -std::numbers::pi)
                    d += kTwoPi;
            }
            v[t * n + i] = d / dt;
        }
    return v;
}

// Sequentially thresholded least squares for oscillator i; row i of the
// result. The refits on the active columns reuse the full Gram matrix: its
// entries are the same sums that the active columns' own Gram would hold.
// A round whose active set is the previous round's would refit the same
// system to the same bits, and so would every later one: the rounds stop
// there. Returns false when stop() said yes (asked between stages).
bool fit_oscillator(std::span<const double> phases, std::span<const double> vel, std::size_t n, std::size_t steps,
                    std::size_t i, double threshold, std::size_t max_iter, double* out, const pool::Stop& stop) {
    std::vector<double> theta(steps * n), b(steps);
    for (std::size_t t = 0; t < steps; ++t) {
        const double* p = phases.data() + t * n;
        double* row = theta.data() + t * n;
        for (std::size_t j = 0; j < n; ++j) row[j] = j == i ? 1.0 : std::sin(p[j] - p[i]);
        b[t] = vel[t * n + i];
    }
    std::vector<double> g(n * n), r(n);
    normal_equations(theta.data(), b.data(), steps, n, g.data(), r.data(), stop);
    if (stop()) return false;
    theta = std::vector<double>{};
    std::vector<double> gw = g, rw = r;
    std::vector<double> xi = solve_normal(gw, rw, n);
    std::vector<std::size_t> active, previous;
    for (std::size_t it = 0; it < max_iter; ++it) {
        if (stop()) return false;
        previous.swap(active);
        active.clear();
        for (std::size_t j = 0; j < n; ++j) {
            const double a = std::fabs(xi[j]);
            if (a < threshold) xi[j] = 0.0;
            if (a >= threshold) active.push_back(j);
        }
        if (active.empty()) break;
        // Every column outside the last set is already 0.0 and every one inside it is kept, so xi is the refit's.
        if (it > 0 && active == previous) break;
        const std::size_t na = active.size();
        gw.resize(na * na);
        rw.resize(na);
        for (std::size_t p = 0; p < na; ++p) {
            for (std::size_t q = 0; q < na; ++q) gw[p * na + q] = g[active[p] * n + active[q]];
            rw[p] = r[active[p]];
        }
        const std::vector<double> xa = solve_normal(gw, rw, na);
        std::fill(xi.begin(), xi.end(), 0.0);
        for (std::size_t p = 0; p < na; ++p) xi[active[p]] = xa[p];
    }
    std::copy(xi.begin(), xi.end(), out);
    return true;
}

}  // namespace

Result<void, PlainError> validate_sindy_inputs(std::span<const double> phases, std::size_t n_osc, std::size_t n_time,
                                               double dt, double threshold, std::size_t max_iter) {
    if (n_osc == 0) return PlainError::value_error("Phase-SINDy requires at least one oscillator");
    if (n_time < 2) return PlainError::value_error("Phase-SINDy requires at least two time samples");
    if (n_time - 1 < n_osc)
        return PlainError::value_error("Phase-SINDy requires at least one derivative sample per feature");
    if (!std::isfinite(dt) || dt <= 0.0) return PlainError::value_error("Phase-SINDy dt must be finite and positive");
    if (!std::isfinite(threshold) || threshold < 0.0)
        return PlainError::value_error("Phase-SINDy threshold must be finite and non-negative");
    if (max_iter == 0) return PlainError::value_error("Phase-SINDy max_iter must be at least one");
    const auto len = checked_mul(n_osc, n_time);
    if (!len) return PlainError::value_error("Phase-SINDy input dimensions overflow");
    if (phases.size() != *len)
        return PlainError::value_error(
            text::cat("Phase-SINDy phase buffer length mismatch: ", phases.size(), " != ", *len));
    if (!all_finite(phases)) return PlainError::value_error("Phase-SINDy phases must be finite");
    return {};
}

Result<std::vector<double>, PlainError> sindy_fit(std::span<const double> phases, std::size_t n_osc, std::size_t n_time,
                                                  double dt, double threshold, std::size_t max_iter) {
    if (auto ok = validate_sindy_inputs(phases, n_osc, n_time, dt, threshold, max_iter); !ok)
        return std::move(ok).error();
    // After validation every buffer here is at most n_osc * n_time values.
    const std::size_t steps = n_time - 1;
    const std::vector<double> vel = velocities(phases, n_osc, steps, dt);
    std::vector<double> coef(n_osc * n_osc);
    const bool done = pool::for_each_index_stoppable(n_osc, [&](std::size_t i, const pool::Stop& stop) {
        fit_oscillator(phases, vel, n_osc, steps, i, threshold, max_iter, coef.data() + i * n_osc, stop);
    });
    if (!done) return interrupted_error();
    if (!all_finite(coef)) return PlainError::value_error("Phase-SINDy produced non-finite coefficients");
    return coef;
}

}  // namespace qel::sindy
