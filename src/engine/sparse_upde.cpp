#include "engine/sparse_upde.hpp"

#include <atomic>
#include <cmath>

#include "engine/plasticity.hpp"
#include "engine/util/finite.hpp"
#include "engine/util/pool.hpp"
#include "engine/util/stepper_kit.hpp"
#include "engine/util/wrap.hpp"
#include "types/format.hpp"

namespace qel::sparse_upde {

namespace {

bool non_decreasing(std::span<const std::size_t> v) {
    std::size_t drops = 0;
    for (std::size_t i = 1; i < v.size(); ++i) drops |= static_cast<std::size_t>(v[i] < v[i - 1]);
    return drops == 0;
}

// The column check, the finiteness of the edge values and the lag scan, in
// one branch-free pass over the edges (they are the bulk of a step's input);
// step still reports the verdicts in its own order.
struct EdgeScan {
    bool column_out_of_range;
    bool non_finite;
    bool any_lag;  // some lag other than +-0.0
};

EdgeScan scan_edges(std::size_t n, const Csr& csr, bool parallel) {
    const std::size_t* cols = csr.col_indices.data();
    const double* k = csr.knm_values.data();
    const double* a = csr.alpha_values.data();
    auto scan = [&](std::size_t b, std::size_t e) {
        bool bad_col = false, bad_value = false, lag = false;
        for (std::size_t i = b; i < e; ++i) {
            bad_col |= cols[i] >= n;
            bad_value |= !std::isfinite(k[i]) | !std::isfinite(a[i]);
            lag |= a[i] != 0.0;
        }
        return EdgeScan{bad_col, bad_value, lag};
    };
    const std::size_t nnz = csr.col_indices.size();
    if (!parallel) return scan(0, nnz);
    // Yes/no verdicts: the split cannot change them.
    std::atomic<bool> bad_col{false}, bad_value{false}, lag{false};
    pool::for_chunks(nnz, kEdgeChunk, [&](std::size_t b, std::size_t e) {
        const EdgeScan r = scan(b, e);
        if (r.column_out_of_range) bad_col.store(true, std::memory_order_relaxed);
        if (r.non_finite) bad_value.store(true, std::memory_order_relaxed);
        if (r.any_lag) lag.store(true, std::memory_order_relaxed);
    });
    return {bad_col.load(), bad_value.load(), lag.load()};
}

// out[r] for the rows r in [i, end): the sum over the edges of row r, in
// storage order, of sin((theta_j - theta_r) - alpha) * K. Whole rows are
// taken in blocks of at most kLagBlock edges: first the sine arguments, then
// the sines in one tight loop, then the sums. The arithmetic is that of one pass per edge, but the
// sine calls no longer wait on the gathers around them (about a fifth faster).
constexpr std::size_t kLagBlock = 1024;

void lagged_sums(std::size_t i, std::size_t end, const double* th, const std::size_t* rp, const std::size_t* cols,
                 const double* k, const double* al, double* out) {
    double buf[kLagBlock];
    while (i < end) {
        const std::size_t base = rp[i];
        std::size_t i1 = i + 1;
        while (i1 < end && rp[i1 + 1] - base <= kLagBlock) ++i1;
        if (rp[i1] - base <= kLagBlock) {
            for (std::size_t r = i; r < i1; ++r) {
                const double tr = th[r];
                for (std::size_t e = rp[r]; e < rp[r + 1]; ++e) buf[e - base] = (th[cols[e]] - tr) - al[e];
            }
            const std::size_t len = rp[i1] - base;
            for (std::size_t t = 0; t < len; ++t) buf[t] = std::sin(buf[t]);
            for (std::size_t r = i; r < i1; ++r) {
                double s = 0.0;
                for (std::size_t e = rp[r]; e < rp[r + 1]; ++e) s += buf[e - base] * k[e];
                out[r] = s;
            }
        } else {  // one row longer than a block, in pieces
            const double tr = th[i];
            double s = 0.0;
            for (std::size_t b = rp[i]; b < rp[i + 1]; b += kLagBlock) {
                const std::size_t stop = rp[i + 1] - b < kLagBlock ? rp[i + 1] : b + kLagBlock;
                for (std::size_t e = b; e < stop; ++e) buf[e - b] = std::sin((th[cols[e]] - tr) - al[e]);
                for (std::size_t e = b; e < stop; ++e) s += buf[e - b] * k[e];
            }
            out[i] = s;
        }
        i = i1;
    }
}

}  // namespace

void compute_derivative(std::size_t n, std::span<const double> phases, std::span<double> sin_theta,
                        std::span<double> cos_theta, std::span<const double> omegas,
                        std::span<const std::size_t> row_ptr, std::span<const std::size_t> col_indices,
                        std::span<const double> knm_values, std::span<const double> alpha_values, bool all_alpha_zero,
                        std::span<double> out, double zeta, double psi) {
    double* st = sin_theta.data();
    double* ct = cos_theta.data();
    const double* th = phases.data();
    const std::size_t* rp = row_ptr.data();
    const std::size_t* cols = col_indices.data();
    const double* k = knm_values.data();
    const double* al = alpha_values.data();
    const double* w = omegas.data();
    double* o = out.data();
    const double a = zeta * std::sin(psi), b = zeta * std::cos(psi);

    // glibc's sincos gives the bits of sin and cos, in one call.
    auto trig = [&](std::size_t i0, std::size_t i1) {
        for (std::size_t i = i0; i < i1; ++i) ::sincos(th[i], &st[i], &ct[i]);
    };
    // Rows i0 .. i1: coupling sums, then frequency and drive. Every row reads
    // only the phases (and their sines and cosines), so rows split freely.
    auto rows = [&](std::size_t i0, std::size_t i1) {
        if (all_alpha_zero) {
            // sin(theta_j - theta_i) from the buffers: no sine per edge.
            for (std::size_t i = i0; i < i1; ++i) {
                const double si = st[i], ci = ct[i];
                double s = 0.0;
                for (std::size_t e = rp[i]; e < rp[i + 1]; ++e) {
                    const std::size_t j = cols[e];
                    s += (st[j] * ci - ct[j] * si) * k[e];
                }
                o[i] = s;
            }
        } else {
            lagged_sums(i0, i1, th, rp, cols, k, al, o);
        }
        if (zeta != 0.0) {
            for (std::size_t i = i0; i < i1; ++i) o[i] = (ct[i] * a - st[i] * b) + (o[i] + w[i]);
        } else {
            for (std::size_t i = i0; i < i1; ++i) o[i] = o[i] + w[i];
        }
    };
    const std::size_t edges = rp[n];
    // Cannot wrap: the edges are entries of arrays in memory (under 2^61 of 8 bytes).
    if (n + edges * (all_alpha_zero ? 1 : kLagWeight) < kParallelMinWork) {
        trig(0, n);
        rows(0, n);
        return;
    }
    pool::for_chunks(n, kRowChunk, trig);
    pool::for_chunks(n, kRowChunk, rows);
}

QelResult<SparseUPDEStepper> SparseUPDEStepper::create(std::size_t n, const IntegrationConfig& config) {
    SparseUPDEStepper s;
    auto built =
        kit::construct<kit::Oversize::Allocate>(s.core_, n, config, 1, {{&s.sin_theta_, 1}, {&s.cos_theta_, 1}});
    if (!built) return std::move(built).error();
    s.n_ = n;
    return s;
}

Status SparseUPDEStepper::step(std::span<double> phases, std::span<const double> omegas, const Csr& csr, double zeta,
                               double psi) {
    using text::cat;
    const std::size_t n = n_;
    if (auto st = check_phase_lengths(n, phases.size(), omegas.size()); !st) return st;
    // n + 1 cannot wrap: the stepper holds buffers of n doubles.
    if (csr.row_ptr.size() != n + 1)
        return QelError::invalid_dimension(cat("expected row_ptr length ", n + 1, " got ", csr.row_ptr.size()));
    const std::size_t nnz = csr.col_indices.size();
    if (csr.knm_values.size() != nnz || csr.alpha_values.size() != nnz)
        return QelError::invalid_dimension(cat("sparse edge arrays must match: col_indices=", nnz, " knm_values=",
                                               csr.knm_values.size(), " alpha_values=", csr.alpha_values.size()));
    if (csr.row_ptr[0] != 0 || csr.row_ptr[n] != nnz)
        return QelError::invalid_dimension("row_ptr must start at 0 and end at col_indices length");
    if (!non_decreasing(csr.row_ptr)) return QelError::invalid_dimension("row_ptr must be monotonic non-decreasing");
    const EdgeScan edges = scan_edges(n, csr, nnz + n >= kParallelMinWork);
    if (edges.column_out_of_range) return QelError::invalid_dimension("col_indices contains out-of-range index");
    if (!all_finite_serial(phases) || !all_finite_serial(omegas) || edges.non_finite || !std::isfinite(zeta) ||
        !std::isfinite(psi))
        return QelError::integration_diverged("sparse step inputs contain NaN/Inf");

    const bool all_alpha_zero = !edges.any_lag;
    core_.advance(
        [&](std::span<const double> y, std::span<double> out) {
            compute_derivative(n, y, sin_theta_, cos_theta_, omegas, csr.row_ptr, csr.col_indices, csr.knm_values,
                               csr.alpha_values, all_alpha_zero, out, zeta, psi);
        },
        phases);
    if (const auto& model = plasticity_.model)
        plasticity::PlasticityModel::update_sparse(sin_theta_, cos_theta_, csr.row_ptr, csr.col_indices, csr.knm_values,
                                                   model->lr, model->decay, plasticity_.modulator, core_.config().dt);
    wrap_phases(phases);
    return {};
}

Status SparseUPDEStepper::run(std::span<double> phases, std::span<const double> omegas, const Csr& csr, double zeta,
                              double psi, std::uint64_t n_steps) {
    return run_steps(n_steps, [&](std::uint64_t) { return step(phases, omegas, csr, zeta, psi); });
}

order_params::OrderParameter SparseUPDEStepper::order_parameter() const {
    order_params::Accumulator acc;
    for (std::size_t i = 0; i < n_; ++i) {
        acc.sum_sin += sin_theta_[i];
        acc.sum_cos += cos_theta_[i];
    }
    acc.m = n_;
    return acc.finish();
}

}  // namespace qel::sparse_upde
