// Strang splitting of the phase network: the drift d theta_i/dt = omega_i is
// solved exactly over two half steps, and the coupling field (pairwise term and
// drive, no natural frequency) between them by one RK4 step whose stage
// states are wrapped. Serial throughout.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/order_params.hpp"
#include "engine/util/stepper_core.hpp"
#include "engine/util/stepper_kit.hpp"
#include "types/config.hpp"
#include "types/error.hpp"
#include "types/failure.hpp"

namespace qel::splitting {

// out = coupling field at theta; sin_cache and cos_cache are refilled from
// theta. Lengths are the caller's guarantee: n for theta, out and the caches,
// n*n for knm, and for alpha unless alpha_zero.
void compute_coupling_deriv(std::size_t n, std::span<const double> theta, std::span<const double> knm,
                            std::span<const double> alpha, bool alpha_zero, std::span<double> sin_cache,
                            std::span<double> cos_cache, std::span<double> out, double zeta, double psi);

class SplittingStepper {
public:
    // "n must be > 0", then the configuration's checks, then the sizes; only
    // dt is used.
    static kit::StepperResult<SplittingStepper> create(std::size_t n, const IntegrationConfig& config);

    // One Strang step after the length and finiteness checks; a refused step
    // changes nothing.
    Status step(std::span<double> phases, std::span<const double> omegas, std::span<const double> knm,
                std::span<const double> alpha, double zeta, double psi);

    // n_steps Strang steps without length or finiteness checks. Inputs shorter
    // than the steps read (with n_steps >= 1) are refused before the first
    // step; longer ones are read only as far as n (n*n); phases past n stay.
    // An interrupt stops between steps, keeping the steps done.
    Result<void, InternalError> run(std::span<double> phases, std::span<const double> omegas,
                                    std::span<const double> knm, std::span<const double> alpha, double zeta, double psi,
                                    std::uint64_t n_steps);

    // R and psi of the caches: sin and cos of the state of the latest field
    // evaluation (the fourth stage of the last step); (0, 0) before any step.
    order_params::OrderParameter order_parameter() const;

    std::size_t n() const { return n_; }

private:
    SplittingStepper() = default;
    void strang_step(std::span<double> theta, std::span<const double> omegas, std::span<const double> knm,
                     std::span<const double> alpha, bool alpha_zero, double zeta, double psi);
    void rk4_coupling(std::span<double> theta, std::span<const double> knm, std::span<const double> alpha,
                      bool alpha_zero, double zeta, double psi);

    StepperCore core_;
    std::span<double> sin_cache_, cos_cache_;
    std::size_t n_ = 0;
};

// n_steps steps of a stepper of n = phases.size() built for the call, on
// phases in place; every error of building it is "stepper init failed: " and
// its debug form (also for zero steps).
Result<void, InternalError> splitting_run(std::span<double> phases, std::span<const double> omegas,
                                          std::span<const double> knm, std::span<const double> alpha, double zeta,
                                          double psi, double dt, std::uint64_t n_steps);

}  // namespace qel::splitting
