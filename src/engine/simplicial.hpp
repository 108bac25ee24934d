// Phase oscillators coupled in pairs (lags, drive) and in every triangle of
// an all-to-all simplicial complex:
//   dtheta_i/dt = omega_i + P_i + T_i + D_i,
//   T_i = sigma2 / N^2 * sum_j sum_k sin(theta_j + theta_k - 2 theta_i),
// the double sum taken in closed form from the sums of sines and cosines
// (present for n >= 3 and sigma2 != 0). Explicit Euler steps of dt, phases
// wrapped after every step.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "engine/util/stepper_kit.hpp"
#include "types/config.hpp"
#include "types/error.hpp"
#include "types/failure.hpp"

namespace qel::simplicial {

class SimplicialStepper {
public:
    // "n must be > 0", then the configuration's checks; only dt counts (one
    // Euler step of dt per step, whatever the method).
    static kit::StepperResult<SimplicialStepper> create(std::size_t n, const IntegrationConfig& config);

    // One validated step of phases in place: lengths, then finiteness of the
    // arrays and of zeta, psi and sigma2. A refused step changes nothing.
    Status step(std::span<double> phases, std::span<const double> omegas, std::span<const double> knm,
                std::span<const double> alpha, double zeta, double psi, double sigma2);

    // n_steps steps without validation; the zero-lag flag from the whole of
    // alpha, once. Inputs the steps would read past their end are refused
    // before the first step (InternalError); the QelError is an interrupt.
    Result<void, kit::StepperError> run(std::span<double> phases, std::span<const double> omegas,
                                        std::span<const double> knm, std::span<const double> alpha, double zeta,
                                        double psi, double sigma2, std::uint64_t n_steps);

    std::size_t n() const { return n_; }

private:
    SimplicialStepper() = default;
    void euler(std::span<double> phases, std::span<const double> omegas, std::span<const double> knm,
               std::span<const double> alpha, bool zero_lag, double zeta, double psi, double sigma2);

    StepperCore core_;
    std::span<double> deriv_, sin_cache_, cos_cache_;
    std::size_t n_ = 0;
};

// The module function: lengths as plain ValueErrors, then a stepper (its
// failures as "stepper init failed: ..."), n_steps steps on a copy of phases.
Result<std::vector<double>, std::variant<PlainError, InternalError>> simplicial_run(
    std::span<const double> phases, std::span<const double> omegas, std::span<const double> knm,
    std::span<const double> alpha, std::size_t n, double zeta, double psi, double sigma2, double dt,
    std::uint64_t n_steps);

}  // namespace qel::simplicial
