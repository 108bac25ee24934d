// Phase oscillators with an optional pairwise coupling (lags, drive) and
// weighted hyperedges whose members act on one another as a group:
//   dtheta_i/dt = omega_i + P_i + D_i + sum over hyperedges e, entries m = i of
//                 s_e sin(S_e - k_e theta_i),   S_e = sum of the entries' phases.
// Explicit Euler steps of dt, phases wrapped after every step.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "engine/order_params.hpp"
#include "engine/util/stepper_kit.hpp"
#include "types/config.hpp"
#include "types/error.hpp"
#include "types/failure.hpp"

namespace qel::hypergraph {

struct Hyperedge {
    std::vector<std::size_t> nodes;  // in the caller's order; a repeat counts once per occurrence
    double strength = 0.0;
};

class HypergraphStepper {
public:
    // "n must be > 0", then the configuration's checks; only dt counts (one
    // Euler step of dt per step, whatever the method).
    static kit::StepperResult<HypergraphStepper> create(std::size_t n, const IntegrationConfig& config);

    // One validated step of phases in place: lengths, hyperedges, finiteness,
    // in that order. A refused step changes nothing.
    Status step(std::span<double> phases, std::span<const double> omegas, std::span<const Hyperedge> edges,
                std::span<const double> knm, std::span<const double> alpha, double zeta, double psi);

    // n_steps steps without validation: a knm of any length other than n*n
    // leaves the pairwise term out, longer inputs are accepted. Inputs the
    // steps would read past their end are refused before the first step
    // (InternalError); the QelError is an interrupt.
    Result<void, kit::StepperError> run(std::span<double> phases, std::span<const double> omegas,
                                        std::span<const Hyperedge> edges, std::span<const double> knm,
                                        std::span<const double> alpha, double zeta, double psi, std::uint64_t n_steps);

    // R and psi of the phases of the latest derivative evaluation (0, 0 when new).
    order_params::OrderParameter order_parameter() const;

    std::size_t n() const { return n_; }

private:
    HypergraphStepper() = default;
    void compute_derivative(std::span<const double> phases, std::span<const double> omegas,
                            std::span<const Hyperedge> edges, std::span<const double> knm,
                            std::span<const double> alpha, bool zero_lag, double zeta, double psi,
                            std::span<double> out);
    void euler(std::span<double> phases, std::span<const double> omegas, std::span<const Hyperedge> edges,
               std::span<const double> knm, std::span<const double> alpha, bool zero_lag, double zeta, double psi);
    // The zero-lag path applies: a pairwise term (knm of n*n) whose lags all
    // compare equal to 0.0; without that term alpha is not read. Settled once
    // per call, not per evaluation.
    bool lag_free(std::span<const double> knm, std::span<const double> alpha) const {
        return kit::is_square_len(knm.size(), n_) && kit::all_alpha_zero(alpha);
    }

    StepperCore core_;
    std::span<double> deriv_, sin_cache_, cos_cache_;
    std::size_t n_ = 0;
};

// Hyperedge e holds nodes[offsets[e] .. offsets[e+1]) (the last one runs to
// the end), offsets and nodes taken as unsigned; its strength is strengths[e].
// A range outside nodes, or a missing strength, is an InternalError.
Result<std::vector<Hyperedge>, InternalError> decode_flat(std::span<const std::int64_t> nodes,
                                                          std::span<const std::int64_t> offsets,
                                                          std::span<const double> strengths);

// Builds a stepper (failures as "stepper init failed: ..."), runs n_steps
// steps on a copy of phases and returns the copy.
Result<std::vector<double>, InternalError> hypergraph_run(std::span<const double> phases,
                                                          std::span<const double> omegas, std::size_t n,
                                                          std::span<const Hyperedge> edges, std::span<const double> knm,
                                                          std::span<const double> alpha, double zeta, double psi,
                                                          double dt, std::uint64_t n_steps);

// decode_flat, then hypergraph_run: the flat form of the module function.
Result<std::vector<double>, InternalError> hypergraph_run_flat(
    std::span<const double> phases, std::span<const double> omegas, std::size_t n,
    std::span<const std::int64_t> edge_nodes, std::span<const std::int64_t> edge_offsets,
    std::span<const double> edge_strengths, std::span<const double> knm, std::span<const double> alpha, double zeta,
    double psi, double dt, std::uint64_t n_steps);

}  // namespace qel::hypergraph
