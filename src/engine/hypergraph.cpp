#include "engine/hypergraph.hpp"

#include <cmath>

#include "engine/util/internal_errors.hpp"
#include "engine/util/stepper_kit.hpp"
#include "engine/util/wrap.hpp"
#include "types/format.hpp"

namespace qel::hypergraph {

kit::StepperResult<HypergraphStepper> HypergraphStepper::create(std::size_t n, const IntegrationConfig& config) {
    HypergraphStepper s;
    auto st = kit::construct(s.core_, n, config, 1, {{&s.deriv_, 1}, {&s.sin_cache_, 1}, {&s.cos_cache_, 1}});
    if (!st) return std::move(st).error();
    s.n_ = n;
    return s;
}

void HypergraphStepper::compute_derivative(std::span<const double> phases, std::span<const double> omegas,
                                           std::span<const Hyperedge> edges, std::span<const double> knm,
                                           std::span<const double> alpha, bool zero_lag, double zeta, double psi,
                                           std::span<double> out) {
    const std::size_t n = n_;
    double* sn = sin_cache_.data();
    double* cs = cos_cache_.data();
    for (std::size_t i = 0; i < n; ++i) ::sincos(phases[i], &sn[i], &cs[i]);
    const kit::Drive drive = kit::Drive::of(zeta, psi);
    const bool pairwise = kit::is_square_len(knm.size(), n);
    const double* th = phases.data();
    const double* om = omegas.data();
    double* d = out.data();
    const kit::Pairwise pw{n, th, sn, cs, knm.data(), alpha.data()};
    auto finish = [&](std::size_t i, double v) { d[i] = drive.on ? v + drive.term(sn[i], cs[i]) : v; };
    pool::for_chunks(n, kit::kRowChunk, [&](std::size_t b, std::size_t e) {
        if (pairwise && zero_lag) {
            kit::zero_lag_rows<kit::SumOrder::Blocks8>(pw, b, e,
                                                       [&](std::size_t i, double p) { finish(i, p + om[i]); });
            return;
        }
        for (std::size_t i = b; i < e; ++i) finish(i, pairwise ? kit::pairwise_row(pw, i, false) + om[i] : om[i] + 0.0);
    });
    // Serial, in order: hyperedges and repeated entries add into the same rows.
    for (const Hyperedge& edge : edges) {
        if (edge.nodes.empty()) continue;
        const double k_e = static_cast<double>(edge.nodes.size());
        double sum = -0.0;
        for (std::size_t m : edge.nodes) sum = sum + th[m];
        for (std::size_t m : edge.nodes) d[m] = d[m] + std::sin(sum - th[m] * k_e) * edge.strength;
    }
}

void HypergraphStepper::euler(std::span<double> phases, std::span<const double> omegas,
                              std::span<const Hyperedge> edges, std::span<const double> knm,
                              std::span<const double> alpha, bool zero_lag, double zeta, double psi) {
    std::span<double> y = phases.first(n_);
    integrators::
        euler_substep([&](std::span<const double> x,
                          std::span<double>
                              out) { compute_derivative(x, omegas, edges, knm, alpha, zero_lag, zeta, psi, out); },
                      y, deriv_, core_.config().dt);
    wrap_phases(y);
}

Status HypergraphStepper::step(std::span<double> phases, std::span<const double> omegas,
                               std::span<const Hyperedge> edges, std::span<const double> knm,
                               std::span<const double> alpha, double zeta, double psi) {
    if (Status st = check_phase_lengths(n_, phases.size(), omegas.size(), LengthText::Extended); !st) return st;
    if (Status st = kit::check_matrix_lengths(n_, knm.size(), alpha.size()); !st) return st;
    for (const Hyperedge& edge : edges) {
        bool bad = edge.nodes.empty();
        for (std::size_t m : edge.nodes) bad = bad || m >= n_;
        if (bad) return QelError::invalid_dimension("hyperedge contains empty or out-of-range nodes");
    }
    constexpr const char* kNonFinite = "hypergraph step inputs contain NaN/Inf";
    if (Status st = kit::check_finite(kNonFinite, {phases, omegas, knm, alpha}); !st) return st;
    for (const Hyperedge& edge : edges)
        if (!std::isfinite(edge.strength)) return QelError::integration_diverged(kNonFinite);
    if (Status st = kit::check_finite(kNonFinite, {}, {zeta, psi}); !st) return st;
    euler(phases, omegas, edges, knm, alpha, lag_free(knm, alpha), zeta, psi);
    return {};
}

Result<void, kit::StepperError> HypergraphStepper::run(std::span<double> phases, std::span<const double> omegas,
                                                       std::span<const Hyperedge> edges, std::span<const double> knm,
                                                       std::span<const double> alpha, double zeta, double psi,
                                                       std::uint64_t n_steps) {
    if (n_steps == 0) return {};
    const std::size_t n = n_;
    if (auto e = kit::need("phases", n, phases.size())) return kit::StepperError(*e);
    if (auto e = kit::need("omegas", n, omegas.size())) return kit::StepperError(*e);
    for (std::size_t e = 0; e < edges.size(); ++e)
        for (std::size_t m : edges[e].nodes)
            if (m >= n)
                return kit::StepperError(InternalError(text::cat("index out of range: hyperedge ", e, " holds node ", m,
                                                                 ", beyond the ", n, " oscillators")));
    // The lags are read, and settled, once for the whole run.
    const bool zero_lag = lag_free(knm, alpha);
    if (kit::is_square_len(knm.size(), n) && !zero_lag)
        if (auto e = kit::need_square("alpha", n, alpha.size())) return kit::StepperError(*e);
    Status st = run_steps(n_steps, [&](std::uint64_t) -> Status {
        euler(phases, omegas, edges, knm, alpha, zero_lag, zeta, psi);
        return {};
    });
    if (!st) return kit::StepperError(std::move(st).error());
    return {};
}

order_params::OrderParameter HypergraphStepper::order_parameter() const {
    order_params::Accumulator acc;
    acc.sum_cos = -0.0;
    acc.sum_sin = -0.0;
    for (std::size_t i = 0; i < n_; ++i) {
        acc.sum_cos += cos_cache_[i];
        acc.sum_sin += sin_cache_[i];
    }
    acc.m = n_;
    return acc.finish();
}

Result<std::vector<Hyperedge>, InternalError> decode_flat(std::span<const std::int64_t> nodes,
                                                          std::span<const std::int64_t> offsets,
                                                          std::span<const double> strengths) {
    std::vector<Hyperedge> edges;
    edges.reserve(offsets.size());
    const std::uint64_t len = nodes.size();
    for (std::size_t e = 0; e < offsets.size(); ++e) {
        const auto start = static_cast<std::uint64_t>(offsets[e]);
        const std::uint64_t end = e + 1 < offsets.size() ? static_cast<std::uint64_t>(offsets[e + 1]) : len;
        if (!(start <= end && end <= len))
            return InternalError(text::cat("range out of bounds: hyperedge ", e, " spans ", start, "..", end,
                                           " of edge_nodes, which holds ", len));
        if (e >= strengths.size()) return *kit::need("edge_strengths", offsets.size(), strengths.size());
        Hyperedge h;
        h.nodes.reserve(end - start);
        for (std::uint64_t p = start; p < end; ++p) h.nodes.push_back(static_cast<std::uint64_t>(nodes[p]));
        h.strength = strengths[e];
        edges.push_back(std::move(h));
    }
    return edges;
}

Result<std::vector<double>, InternalError> hypergraph_run(std::span<const double> phases,
                                                          std::span<const double> omegas, std::size_t n,
                                                          std::span<const Hyperedge> edges, std::span<const double> knm,
                                                          std::span<const double> alpha, double zeta, double psi,
                                                          double dt, std::uint64_t n_steps) {
    auto stepper = HypergraphStepper::create(n, kit::dt_config(dt));
    if (!stepper) return kit::run_failure(stepper.error());
    std::vector<double> out(phases.begin(), phases.end());
    auto r = stepper.value().run(out, omegas, edges, knm, alpha, zeta, psi, n_steps);
    if (!r) {
        if (auto* e = std::get_if<InternalError>(&r.error())) return std::move(*e);
        return interrupted_error<InternalError>();
    }
    return out;
}

Result<std::vector<double>, InternalError> hypergraph_run_flat(
    std::span<const double> phases, std::span<const double> omegas, std::size_t n,
    std::span<const std::int64_t> edge_nodes, std::span<const std::int64_t> edge_offsets,
    std::span<const double> edge_strengths, std::span<const double> knm, std::span<const double> alpha, double zeta,
    double psi, double dt, std::uint64_t n_steps) {
    auto edges = decode_flat(edge_nodes, edge_offsets, edge_strengths);
    if (!edges) return std::move(edges).error();
    return hypergraph_run(phases, omegas, n, edges.value(), knm, alpha, zeta, psi, dt, n_steps);
}

}  // namespace qel::hypergraph
