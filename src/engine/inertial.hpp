// Second-order (swing-equation) phase oscillators:
//   dtheta_i/dt = w_i
//   dw_i/dt     = ((C_i + P_i) - D_i w_i) / M_i,   C_i = sum_j K_ij sin(theta_j - theta_i)
// advanced by one classical Runge-Kutta step of dt per call on the state
// [theta; w]; only the phases are wrapped. Inertia and damping are used as
// given (a zero inertia makes the step's results NaN, and the step succeeds).
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/util/stepper_core.hpp"
#include "engine/util/stepper_kit.hpp"
#include "types/config.hpp"
#include "types/error.hpp"
#include "types/failure.hpp"

namespace qel::inertial {

// Everything of a step except the state: power, inertia, damping n values,
// knm n*n row-major.
struct Inputs {
    std::span<const double> power, knm, inertia, damping;
};

// dy = f(y) on y = [theta; w] of 2n values; refills the caches. Lengths are
// the caller's guarantee.
void compute_derivative(std::size_t n, std::span<const double> y, const Inputs& in, std::span<double> sin_cache,
                        std::span<double> cos_cache, std::span<double> dy);

class InertialStepper {
public:
    // "n must be > 0", the configuration's checks, then "capacity overflow"
    // for a state of 2^60 values or more. The method, substeps and
    // tolerances are validated and otherwise unused.
    static kit::StepperResult<InertialStepper> create(std::size_t n, const IntegrationConfig& config);

    // One step in place: the five vector lengths, knm's length, finiteness of
    // all six inputs; a refused step changes nothing.
    Status step(std::span<double> theta, std::span<double> omega_dot, const Inputs& in);

    std::size_t n() const { return n_; }

private:
    InertialStepper() = default;

    StepperCore core_;
    std::span<double> state_, sin_cache_, cos_cache_;
    std::size_t n_ = 0;
};

// The module run functions: a stepper of n oscillators and step dt built for
// the call, one step (step) or n_steps steps (run) on copies of theta and
// omega_dot. Every stepper error is an internal error ("stepper init failed:
// " + its debug form); so is a trajectory of 2^60 values or more.
struct StepResult {
    std::vector<double> theta, omega_dot;
};
struct RunResult {
    std::vector<double> theta, omega_dot, theta_trajectory, omega_dot_trajectory;
};

Result<StepResult, InternalError> inertial_step(std::span<const double> theta, std::span<const double> omega_dot,
                                                const Inputs& in, std::size_t n, double dt);

// Row t of each flat trajectory (t*n .. t*n + n - 1) holds the state after
// step t + 1. Zero steps: unchecked copies and empty trajectories.
Result<RunResult, InternalError> inertial_run(std::span<const double> theta, std::span<const double> omega_dot,
                                              const Inputs& in, std::size_t n, double dt, std::uint64_t n_steps);

}  // namespace qel::inertial
