// Stuart-Landau oscillators in amplitude-phase form, state y = [theta; r]:
//   dtheta_i/dt = (omega_i + sum_j K_ij sin(theta_j - theta_i - alpha_ij)) + zeta sin(psi - theta_i)
//   dr_i/dt     = (mu_i - r_i^2) r_i + epsilon sum_j cos(theta_j - theta_i - alpha_ij) max(r_j, 0) Kr_ij
// integrated by Euler or RK4 substeps or one adaptive Dormand-Prince step;
// after each step the phases are wrapped and negative amplitudes set to 0.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/util/stepper_core.hpp"
#include "engine/util/stepper_kit.hpp"
#include "types/config.hpp"
#include "types/error.hpp"

namespace qel::stuart_landau {

// From this many oscillators on, derivative rows run on the pool.
inline constexpr std::size_t kParallelMinN = 256;

// Everything of a step except the state. knm, knm_r and alpha are n*n,
// row-major; omegas and mu n.
struct Inputs {
    std::span<const double> omegas, mu, knm, knm_r, alpha;
    double zeta = 0.0, psi = 0.0, epsilon = 0.0;
};

// out = f(y) for a state of 2n values; refills the caches from y's phases.
// Lengths are the caller's guarantee.
void compute_derivative(std::size_t n, std::span<const double> y, const Inputs& in, bool zero_lag,
                        std::span<double> sin_cache, std::span<double> cos_cache, std::span<double> out);

class StuartLandauStepper {
public:
    // "n must be > 0", the configuration's checks, then "capacity overflow"
    // for a state of 2^60 values or more.
    static kit::StepperResult<StuartLandauStepper> create(std::size_t n, const IntegrationConfig& config);

    // One step in place. Lengths, then finiteness of the state, the arrays
    // and zeta, psi, epsilon; a refused step changes nothing.
    Status step(std::span<double> state, const Inputs& in);

    // n_steps steps; the first failure (or an interrupt) ends the run, and
    // last_dt keeps what the completed steps made of it.
    Status run(std::span<double> state, const Inputs& in, std::uint64_t n_steps);

    std::size_t n() const { return n_; }
    double last_dt() const { return core_.last_dt(); }

private:
    StuartLandauStepper() = default;
    Status check_inputs(std::size_t state_len, const Inputs& in) const;
    void advance(std::span<double> state, const Inputs& in, bool zero_lag);

    StepperCore core_;
    std::span<double> sin_cache_, cos_cache_;
    std::size_t n_ = 0;
};

}  // namespace qel::stuart_landau
