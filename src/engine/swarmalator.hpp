// Swarmalators: agents with a position in dim dimensions and a phase. With
// r_im = sqrt(|x_m - x_i|^2 + 1e-6), one explicit Euler step of
//   dx_i/dt     = (1/n) sum_{m != i} (x_m - x_i) ((a + j cos(theta_m - theta_i)) / r_im - b / r_im^2)
//   dtheta_i/dt = omega_i + (k/n) sum_{m != i} sin(theta_m - theta_i) / r_im
// advances caller-owned positions (never wrapped) and phases (wrapped).
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/order_params.hpp"
#include "engine/util/stepper_core.hpp"
#include "engine/util/stepper_kit.hpp"
#include "types/config.hpp"
#include "types/error.hpp"
#include "types/failure.hpp"

namespace qel::swarmalator {

class SwarmalatorStepper {
public:
    // "n must be > 0", then the configuration's checks (only dt matters: the
    // step is always one Euler step of dt), then "capacity overflow" when n*dim
    // values cannot be held. dim is not checked.
    static Result<SwarmalatorStepper, kit::StepperError> create(std::size_t n, std::size_t dim,
                                                                const IntegrationConfig& config);

    // pos holds n*dim values agent-major, phases and omegas n. Lengths, then
    // finiteness, are checked before anything is written. The caches then take
    // the sines and cosines of the phases; with dim == 0 the step stops there
    // ("chunk_size must not be zero") and leaves pos and phases alone.
    Result<void, kit::StepperError> step(std::span<double> pos, std::span<double> phases,
                                         std::span<const double> omegas, double a, double b, double j, double k);

    // R and psi of the phases given to the latest step that passed its checks;
    // (0, 0) before any.
    order_params::OrderParameter order_parameter() const;

    std::size_t n() const { return n_; }
    std::size_t dim() const { return dim_; }

private:
    SwarmalatorStepper() = default;

    StepperCore core_;
    std::span<double> sin_cache_, cos_cache_, dpos_, dphase_;
    std::size_t n_ = 0, dim_ = 0;
};

struct RunResult {
    std::vector<double> pos, phases;
    // Time-major: block t holds the state after step t + 1.
    std::vector<double> pos_trajectory, phase_trajectory;
};

// Builds a stepper of dt, copies the initial state and runs n_steps steps,
// keeping every state. Every failure is internal: the stepper's own errors as
// "stepper init failed: " + their debug form.
Result<RunResult, InternalError> run(std::span<const double> pos_init, std::span<const double> phases_init,
                                     std::span<const double> omegas, std::size_t n, std::size_t dim, double dt,
                                     double a, double b, double j, double k, std::uint64_t n_steps);

}  // namespace qel::swarmalator
