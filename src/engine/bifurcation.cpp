#include "engine/bifurcation.hpp"

#include <bit>
#include <cmath>
#include <limits>
#include <optional>

#include "engine/order_params.hpp"
#include "engine/util/checked.hpp"
#include "engine/util/integrators.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"
#include "engine/util/mmix_lcg.hpp"
#include "engine/util/pool.hpp"
#include "engine/util/pool_stop.hpp"
#include "engine/util/wrap.hpp"
#include "types/format.hpp"

namespace qel::bifurcation {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Bisection bounds and budget.
constexpr double kSearchTop = 20.0;
constexpr int kMaxHalvings = 30;

// Rows per pool task of one derivative, and the size from which a step's rows
// go on the pool at all: below it a dispatch costs more than the rows.
constexpr std::size_t kRowChunk = 8;
constexpr std::size_t kParallelRowsFrom = 32;

// Whether a run splits its steps' rows over the pool: when it is large enough
// and `runs` runs at once (sweep points, basin samples) leave workers idle;
// otherwise the nested splits only cost.
bool split_rows(std::size_t n, std::size_t runs) { return n >= kParallelRowsFrom && runs < pool::worker_count(); }

// Read-only inputs of every run of one call; lengths already checked.
struct Network {
    const double* omegas;
    const double* knm;
    const double* alpha;
    std::size_t n;
    double dt;
    std::uint64_t n_transient;
    std::uint64_t n_measure;
    bool split_rows = false;
};

Network network_of(std::span<const double> omegas, std::span<const double> knm, std::span<const double> alpha,
                   std::size_t n, double dt, std::uint64_t n_transient, std::uint64_t n_measure) {
    return {omegas.data(), knm.data(), alpha.data(), n, dt, n_transient, n_measure, split_rows(n, 1)};
}

inline bool skipped(double k) { return std::fabs(k) < kSkipBelow; }

// Whether a run reads anything at all: some step runs and some oscillator moves.
bool reads_inputs(std::size_t n, std::uint64_t n_transient, std::uint64_t n_measure) {
    return n > 0 && (n_transient > 0 || n_measure > 0);
}

// Phases, frequencies and couplings: what every step reads whatever the scale.
Result<void, PlainError> check_lengths(std::size_t n_phases, std::span<const double> omegas,
                                       std::span<const double> knm, std::size_t n) {
    if (n_phases < n) return InternalError(text::cat("phases_init has ", n_phases, " entries, fewer than n = ", n));
    if (omegas.size() < n)
        return InternalError(text::cat("omegas has ", omegas.size(), " entries, fewer than n = ", n));
    auto nn = checked_mul(n, n);
    if (!nn || knm.size() < *nn)
        return InternalError(
            text::cat("knm_flat has ", knm.size(), " entries, fewer than the n*n that n = ", n, " needs"));
    return {};
}

// A lag for every pair at or past the end of alpha that the scale does not
// skip. knm holds n*n entries (check_lengths).
Result<void, PlainError> check_lags(std::span<const double> knm, std::span<const double> alpha, std::size_t n,
                                    double k_scale) {
    const std::size_t nn = n * n;
    for (std::size_t idx = alpha.size(); idx < nn; ++idx) {
        if (!skipped(knm[idx] * k_scale))
            return InternalError(text::cat("alpha_flat has ", alpha.size(), " entries, but the coupling at index ", idx,
                                           " needs its lag at k_scale = ", k_scale));
    }
    return {};
}

// The pairs a run at one scale couples, one bit per pair, row by row: the
// skip test is decided once per run, so a step spends nothing on skipped
// pairs and takes no unpredictable branch on a sparse matrix.
class CoupledPairs {
public:
    CoupledPairs() = default;
    // Reads all n*n couplings: only for a run that steps.
    CoupledPairs(const Network& net, double k_scale) : words_((net.n + 63) / 64), bits_(net.n * words_, 0) {
        const std::size_t n = net.n;
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = 0; j < n; ++j)
                if (!skipped(net.knm[i * n + j] * k_scale)) bits_[i * words_ + j / 64] |= std::uint64_t{1} << (j % 64);
    }
    // f(j) for each coupled j of row i, ascending.
    template <class F>
    void for_row(std::size_t i, F&& f) const {
        const std::uint64_t* row = bits_.data() + i * words_;
        for (std::size_t w = 0; w < words_; ++w) {
            const std::size_t base = w * 64;
            if (row[w] == ~std::uint64_t{0}) {  // dense couplings: a plain loop
                for (std::size_t j = base; j < base + 64; ++j) f(j);
                continue;
            }
            for (std::uint64_t b = row[w]; b != 0; b &= b - 1) f(base + static_cast<std::size_t>(std::countr_zero(b)));
        }
    }

private:
    std::size_t words_ = 0;
    std::vector<std::uint64_t> bits_;
};

// dtheta_i/dt for the rows [b, e) at the phases y (y holds at least n entries).
void derivative_rows(std::span<const double> y, std::span<double> out, const Network& net, const CoupledPairs& pairs,
                     double k_scale, std::size_t b, std::size_t e) {
    const std::size_t n = net.n;
    for (std::size_t i = b; i < e; ++i) {
        const std::size_t row = i * n;
        const double yi = y[i];
        double s = 0.0;
        pairs.for_row(i, [&](std::size_t j) {
            const double k = net.knm[row + j] * k_scale;
            s = s + k * std::sin((y[j] - yi) - net.alpha[row + j]);
        });
        out[i] = s + net.omegas[i];
    }
}

// dtheta_i/dt for i < n; every row is its own sum, so splitting the rows over
// the pool changes no bit.
void derivative(std::span<const double> y, std::span<double> out, const Network& net, const CoupledPairs& pairs,
                double k_scale) {
    const std::size_t n = net.n;
    if (!net.split_rows) return derivative_rows(y, out, net, pairs, k_scale, 0, n);
    pool::for_chunks(n, kRowChunk,
                     [&](std::size_t b, std::size_t e) { derivative_rows(y, out, net, pairs, k_scale, b, e); });
}

// One Euler step of the first n phases: every coupling term reads the phases
// before the step (the derivative is complete before any phase moves).
void euler_step(std::span<double> phases, std::span<double> deriv, const Network& net, const CoupledPairs& pairs,
                double k_scale) {
    integrators::euler_substep([&](std::span<const double> y,
                                   std::span<double> out) { derivative(y, out, net, pairs, k_scale); },
                               phases.first(net.n), deriv, net.dt);
}

// The relaxation and the averaged order parameter; nullopt when stopped()
// said yes (asked before every step).
template <class Stopped>
std::optional<double> relax(std::span<const double> init, const Network& net, double k_scale, Stopped&& stopped) {
    std::vector<double> phases(init.begin(), init.end());
    std::vector<double> deriv(net.n);
    const bool steps = net.n_transient > 0 || net.n_measure > 0;
    const CoupledPairs pairs = steps ? CoupledPairs(net, k_scale) : CoupledPairs();
    for (std::uint64_t t = 0; t < net.n_transient; ++t) {
        if (stopped()) return std::nullopt;
        euler_step(phases, deriv, net, pairs, k_scale);
    }
    double total = 0.0;
    for (std::uint64_t t = 0; t < net.n_measure; ++t) {
        if (stopped()) return std::nullopt;
        euler_step(phases, deriv, net, pairs, k_scale);
        if (phases.empty()) continue;
        order_params::Accumulator acc;
        for (double x : phases) acc.add(x);
        total += acc.magnitude();
    }
    return total / static_cast<double>(net.n_measure);
}

// On the calling thread: the module's hook.
std::optional<double> relax_on_caller(std::span<const double> init, const Network& net, double k_scale) {
    return relax(init, net, k_scale, [] { return interrupted(); });
}

std::vector<double> coupling_grid(double k_min, double k_max, std::uint64_t n_points) {
    std::vector<double> grid(n_points);
    if (n_points == 1) {
        grid[0] = k_min;
    } else if (n_points > 1) {
        const double d = k_max - k_min;
        const double last = static_cast<double>(n_points - 1);
        for (std::uint64_t i = 0; i < n_points; ++i) grid[i] = ((static_cast<double>(i) * d) / last) + k_min;
    }
    return grid;
}

// First i with r_i below the threshold and r_(i+1) at or above it (NaN is
// neither), interpolated; NaN when there is none.
double first_upward_crossing(const std::vector<double>& grid, const std::vector<double>& r) {
    for (std::size_t i = 0; i + 1 < r.size(); ++i) {
        if (r[i] < kSyncThreshold && r[i + 1] >= kSyncThreshold) {
            const double f = (kSyncThreshold - r[i]) / (r[i + 1] - r[i]);
            return ((grid[i + 1] - grid[i]) * f) + grid[i];
        }
    }
    return kNaN;
}

}  // namespace

Result<void, PlainError> check_reads(std::size_t n_phases, std::span<const double> omegas, std::span<const double> knm,
                                     std::span<const double> alpha, std::size_t n, double k_scale) {
    if (auto ok = check_lengths(n_phases, omegas, knm, n); !ok) return ok;
    return check_lags(knm, alpha, n, k_scale);
}

Result<void, PlainError> kuramoto_step(std::span<double> phases, std::span<const double> omegas,
                                       std::span<const double> knm, std::span<const double> alpha, std::size_t n,
                                       double k_scale, double dt) {
    if (n == 0) return {};
    if (auto ok = check_reads(phases.size(), omegas, knm, alpha, n, k_scale); !ok) return ok;
    const Network net = network_of(omegas, knm, alpha, n, dt, 0, 0);
    std::vector<double> deriv(n);
    euler_step(phases, deriv, net, CoupledPairs(net, k_scale), k_scale);
    return {};
}

Result<double, PlainError> steady_state_r(std::span<const double> phases_init, std::span<const double> omegas,
                                          std::span<const double> knm, std::span<const double> alpha, std::size_t n,
                                          double k_scale, double dt, std::uint64_t n_transient,
                                          std::uint64_t n_measure) {
    if (reads_inputs(n, n_transient, n_measure)) {
        if (auto ok = check_reads(phases_init.size(), omegas, knm, alpha, n, k_scale); !ok)
            return std::move(ok).error();
    }
    auto r = relax_on_caller(phases_init, network_of(omegas, knm, alpha, n, dt, n_transient, n_measure), k_scale);
    if (!r) return interrupted_error();
    return *r;
}

Result<Transition, PlainError> trace_sync_transition(std::span<const double> phases_init,
                                                     std::span<const double> omegas, std::span<const double> knm,
                                                     std::span<const double> alpha, std::size_t n, double k_min,
                                                     double k_max, std::uint64_t n_points, double dt,
                                                     std::uint64_t n_transient, std::uint64_t n_measure) {
    const bool reads = n_points > 0 && reads_inputs(n, n_transient, n_measure);
    if (reads) {
        if (auto ok = check_lengths(phases_init.size(), omegas, knm, n); !ok) return std::move(ok).error();
    }
    Transition out;
    out.grid = coupling_grid(k_min, k_max, n_points);
    // Every point is checked before any runs, so that a bad one fails the
    // call at once instead of after the others' work.
    if (reads) {
        for (double k : out.grid) {
            if (interrupted()) return interrupted_error();
            if (auto ok = check_lags(knm, alpha, n, k); !ok) return std::move(ok).error();
        }
    }
    out.r_values.assign(n_points, 0.0);
    Network net = network_of(omegas, knm, alpha, n, dt, n_transient, n_measure);
    net.split_rows = split_rows(n, n_points);
    const bool done = pool::for_each_index_stoppable(n_points, [&](std::size_t i, const pool::Stop& stop) {
        if (auto r = relax(phases_init, net, out.grid[i], stop)) out.r_values[i] = *r;
    });
    if (!done) return interrupted_error();
    out.k_c = first_upward_crossing(out.grid, out.r_values);
    return out;
}

Result<double, PlainError> find_critical_coupling(std::span<const double> phases_init, std::span<const double> omegas,
                                                  std::span<const double> knm, std::span<const double> alpha,
                                                  std::size_t n, double dt, std::uint64_t n_transient,
                                                  std::uint64_t n_measure, double tol) {
    auto r_at = [&](double k) {
        return steady_state_r(phases_init, omegas, knm, alpha, n, k, dt, n_transient, n_measure);
    };
    auto top = r_at(kSearchTop);
    if (!top) return top;
    if (top.value() < kSyncThreshold) return kNaN;
    double lo = 0.0;
    double hi = kSearchTop;
    for (int halving = 0; halving < kMaxHalvings; ++halving) {
        const double mid = (hi + lo) * 0.5;
        auto r = r_at(mid);
        if (!r) return r;
        // A NaN R counts as synchronised and moves hi down.
        if (r.value() < kSyncThreshold)
            lo = mid;
        else
            hi = mid;
        if (tol > hi - lo) break;
    }
    return (lo + hi) * 0.5;
}

Result<Basin, PlainError> basin_stability(std::span<const double> omegas, std::span<const double> knm,
                                          std::span<const double> alpha, std::size_t n, double dt,
                                          std::uint64_t n_transient, std::uint64_t n_measure, std::uint64_t n_samples,
                                          double r_threshold, std::uint64_t seed) {
    constexpr double kUnscaled = 1.0;
    if (n_samples > 0 && reads_inputs(n, n_transient, n_measure)) {
        if (auto ok = check_reads(n, omegas, knm, alpha, n, kUnscaled); !ok) return std::move(ok).error();
    }
    Basin out;
    out.r_values.assign(n_samples, 0.0);
    Network net = network_of(omegas, knm, alpha, n, dt, n_transient, n_measure);
    net.split_rows = split_rows(n, n_samples);
    // Sample s draws the n values at stream positions s*n + 1 ... s*n + n (the
    // order of drawing every sample's phases one sample after another), so
    // each sample starts its own generator that far along the stream.
    const bool done = pool::for_each_index_stoppable(n_samples, [&](std::size_t s, const pool::Stop& stop) {
        MmixLcg rng(seed);
        rng.advance(static_cast<std::uint64_t>(s) * n);
        std::vector<double> phases(n);
        for (double& p : phases) p = rng.uniform31() * kTwoPi;
        if (auto r = relax(phases, net, kUnscaled, stop)) out.r_values[s] = *r;
    });
    if (!done) return interrupted_error();
    for (double r : out.r_values)
        if (r >= r_threshold) ++out.count;
    out.fraction = n_samples == 0 ? 0.0 : static_cast<double>(out.count) / static_cast<double>(n_samples);
    return out;
}

}  // namespace qel::bifurcation
