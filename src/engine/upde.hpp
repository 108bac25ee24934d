// The dense UPDE stepper:
//   dtheta_i/dt = omega_i + sum_j K_ij sin(theta_j - theta_i - alpha_ij) + zeta sin(psi - theta_i)
// with the sum over every j (the diagonal included) and no 1/n.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "engine/plasticity.hpp"
#include "engine/util/stepper_core.hpp"
#include "types/config.hpp"
#include "types/error.hpp"

namespace qel::upde {

// From this many oscillators on, derivative rows run on the pool in chunks.
inline constexpr std::size_t kParallelMinN = 256;
inline constexpr std::size_t kRowChunk = 64;

// out = dtheta/dt at phases; also refreshes sin_theta and cos_theta with the
// sines and cosines of phases. all_alpha_zero selects the fast path (row sums
// of K sin and K cos, no sine per pair). Lengths are the caller's guarantee:
// n for phases, omegas, out and the buffers, n*n for knm and alpha. Returns
// whether every row's coupling sums came out finite, which they always do
// when knm and alpha are finite, barring overflow.
bool compute_derivative(std::size_t n, std::span<const double> phases, std::span<double> sin_theta,
                        std::span<double> cos_theta, std::span<const double> omegas, std::span<const double> knm,
                        std::span<const double> alpha, bool all_alpha_zero, std::span<double> out, double zeta,
                        double psi);

// Doppler shift of the schedules: a gain of any finite sign and a positive
// regulariser of the speed denominator.
struct DopplerControls {
    double strength = 0.0;
    double epsilon = 1.0;
};

// Distance weighting of the moving-frame schedule.
struct AxialDecay {
    double k_base = 1.0;
    std::uint8_t form = 0;
    double exponent = 1.0;
    double length_scale = 1.0;
    double epsilon = 1.0;
};

// out[i] = strength * sum_j |K_ij| (v_i - v_j) / (|v_i| + eps) / sum_j |K_ij|
// over j != i with K_ij != 0; 0 where that weight sum is 0.
Status compute_doppler_term(std::span<double> out, std::span<const double> velocities, std::span<const double> knm,
                            std::size_t n, double strength, double epsilon);

class UPDEStepper {
public:
    // "n must be > 0", then the configuration's own checks. Scratch that
    // cannot be allocated throws std::bad_alloc.
    static QelResult<UPDEStepper> create(std::size_t n, const IntegrationConfig& config);

    // What the scans of knm and alpha found. A run of steps over one coupling
    // and one lag array, which nothing but plasticity can change in between,
    // keeps it instead of scanning n*n values twice per step.
    struct CouplingScan {
        bool finite = false;  // every coupling and every lag
        bool alpha_zero = false;
    };

    // One step: checks, integration by the configured method, plasticity on
    // knm (when set), wrapping. On failure nothing has changed. With `reuse`,
    // a scan kept by the previous step of the same run stands in for the scan
    // of knm and alpha, and this step leaves its own there (none after
    // plasticity has changed knm).
    Status step(std::span<double> phases, std::span<const double> omegas, std::span<double> knm, double zeta,
                double psi, std::span<const double> alpha, std::optional<CouplingScan>* reuse = nullptr);

    // n_steps steps on the same inputs; the first failure (or an interrupt)
    // ends the run, keeping what the steps before it did to knm and the stepper.
    Status run(std::span<double> phases, std::span<const double> omegas, std::span<double> knm, double zeta, double psi,
               std::span<const double> alpha, std::uint64_t n_steps);

    // lr and decay finite and >= 0, else InvalidConfig; modulator unchecked
    // (a non-finite one makes later steps fail).
    Status set_plasticity(double lr, double decay, double modulator) { return plasticity_.set(lr, decay, modulator); }

    // Schedules (upde_schedules.cpp): flat time-major rows of n values, one
    // row per step, each step being one call of step() above.
    Status run_omega_schedule(std::span<double> phases, std::span<const double> omega_schedule, std::span<double> knm,
                              std::span<const double> alpha, double zeta, double psi, std::uint64_t n_steps);
    // Adds compute_doppler_term of the current knm to each row's frequencies.
    Status run_doppler_schedule(std::span<double> phases, std::span<const double> omega_schedule, std::span<double> knm,
                                std::span<const double> alpha, std::span<const double> velocity_schedule, double zeta,
                                double psi, const DopplerControls& doppler, std::uint64_t n_steps);
    // Oscillators on one axis: each step rebuilds the coupling from knm and
    // the current distances, shifts frequencies by the Doppler term, steps,
    // then moves positions by velocity * dt. knm is only read.
    Status run_moving_frame_schedule(std::span<double> phases, std::span<double> positions,
                                     std::span<const double> omega_schedule, std::span<const double> knm,
                                     std::span<const double> alpha, std::span<const double> velocity_schedule,
                                     double zeta, double psi, const AxialDecay& decay, const DopplerControls& doppler,
                                     std::uint64_t n_steps);

    std::size_t n() const { return n_; }
    double last_dt() const { return core_.last_dt(); }

private:
    UPDEStepper() = default;

    StepperCore core_;
    // Sines and cosines of the phases of the latest derivative evaluation.
    std::span<double> sin_theta_, cos_theta_;
    // The derivative at the phases a step starts from, when it checked knm.
    std::span<double> first_;
    std::size_t n_ = 0;
    plasticity::PlasticitySetting plasticity_;
};

}  // namespace qel::upde
