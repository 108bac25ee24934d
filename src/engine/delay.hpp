// Kuramoto network with coupling delayed by a whole number of steps:
//   dtheta_i/dt = omega_i + sum_j K_ij sin(theta_j(t - D dt) - theta_i(t) - alpha_ij) + zeta sin(psi - theta_i(t)),
// by Euler steps. The past lives in a ring of D + 1 slots of sines and
// cosines; until D steps have been taken the current phases stand in.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/util/stepper_core.hpp"
#include "engine/util/stepper_kit.hpp"
#include "types/config.hpp"
#include "types/error.hpp"
#include "types/failure.hpp"

namespace qel::delay {

// From this many oscillators on, the rows run on the pool.
inline constexpr std::size_t kParallelMinN = 256;

class DelayedStepper {
public:
    // "n must be > 0", then the configuration's checks, then the ring's size:
    // (D + 1) 2n values that overflow or reach 2^60 are "capacity overflow".
    static kit::StepperResult<DelayedStepper> create(std::size_t n, const IntegrationConfig& config,
                                                     std::uint64_t delay_steps);

    // What the checks of a call's fixed inputs found, kept across its steps:
    // omegas, knm, alpha, zeta and psi do not change within a run.
    struct InputScan {
        bool checked = false;
        bool alpha_zero = false;
    };

    // One Euler step: lengths against n, finiteness (of the phases, and of
    // the other inputs unless `scan` says they passed), store, rows, update,
    // wrap, advance the ring. A refused step changes nothing.
    Status step(std::span<double> phases, std::span<const double> omegas, std::span<const double> knm,
                std::span<const double> alpha, double zeta, double psi, const kit::Drive& drive, InputScan& scan);

    std::size_t n() const { return n_; }

private:
    DelayedStepper() = default;
    void derivative(std::span<const double> theta, std::span<const double> omegas, std::span<const double> knm,
                    std::span<const double> alpha, bool alpha_zero, const kit::Drive& drive, std::span<double> out);

    StepperCore core_;
    // Slot s of the ring holds the sines of its n phases, then their cosines.
    std::span<double> history_, sin_buf_, cos_buf_, angles_;
    std::size_t n_ = 0;
    std::uint64_t delay_ = 0;
    std::uint64_t write_idx_ = 0;
    std::uint64_t steps_taken_ = 0;
};

// n_steps steps of a stepper built for the call, on phases in place. Every
// error of the stepper is "stepper init failed: " and its debug form; zero
// steps still build the stepper and leave the phases as given.
Result<void, InternalError> delayed_kuramoto_run(std::span<double> phases, std::span<const double> omegas,
                                                 std::span<const double> knm, std::span<const double> alpha,
                                                 std::size_t n, double zeta, double psi, double dt,
                                                 std::uint64_t delay_steps, std::uint64_t n_steps);

}  // namespace qel::delay
