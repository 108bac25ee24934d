// The dense UPDE stepper:
//   dtheta_i/dt = omega_i + sum_j K_ij sin(theta_j - theta_i - alpha_ij) + zeta sin(psi - theta_i)
// with the sum over every j (the diagonal included) and no 1/n.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "engine/plasticity.hpp"
#include "engine/util/scratch.hpp"
#include "types/config.hpp"
#include "types/error.hpp"

namespace qel::upde {

using plasticity::PlasticityModel;

// From this many oscillators on, derivative rows run on the pool in chunks.
inline constexpr std::size_t kParallelMinN = 256;
inline constexpr std::size_t kRowChunk = 64;

// out = dtheta/dt at phases; also refreshes sin_theta and cos_theta with the
// sines and cosines of phases. all_alpha_zero selects the fast path (row sums
// of K sin and K cos, no sine per pair). Lengths are the caller's guarantee:
// n for phases, omegas, out and the buffers, n*n for knm and alpha.
void compute_derivative(std::size_t n, std::span<const double> phases, std::span<double> sin_theta,
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

struct UPDEStepper {
    std::optional<PlasticityModel> plasticity;
    // Twelve scratch sequences of n values, views into `scratch`.
    std::span<double> deriv, k1, k2, k3, k4, k5, k6, k7, y5, stage, sin_theta, cos_theta;
    std::size_t n = 0;
    double dt = 0.01;
    double atol = 1e-6;
    double rtol = 1e-3;
    double last_dt = 0.01;  // next adaptive step size
    double modulator = 1.0;
    std::uint32_t n_substeps = 1;
    IntegrationMethod method = IntegrationMethod::Euler;
    ScratchBlock scratch;

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

    // One adaptive Dormand-Prince step from last_dt; inputs already checked.
    void rk45_step(std::span<double> phases, std::span<const double> omegas, std::span<const double> knm,
                   std::span<const double> alpha, bool all_alpha_zero, double zeta, double psi);

    // lr and decay finite and >= 0, else InvalidConfig; modulator unchecked
    // (a non-finite one makes later steps fail).
    Status set_plasticity(double lr, double decay, double modulator);

    // Schedules (upde_schedules.cpp): flat time-major rows of n values, one
    // row per step, each step being one call of step() above.
    Status run_omega_schedule(std::span<double> phases, std::span<const double> omega_schedule,
                              std::span<double> knm, std::span<const double> alpha, double zeta, double psi,
                              std::uint64_t n_steps);
    // Adds compute_doppler_term of the current knm to each row's frequencies.
    Status run_doppler_schedule(std::span<double> phases, std::span<const double> omega_schedule,
                                std::span<double> knm, std::span<const double> alpha,
                                std::span<const double> velocity_schedule, double zeta, double psi,
                                const DopplerControls& doppler, std::uint64_t n_steps);
    // Oscillators on one axis: each step rebuilds the coupling from knm and
    // the current distances, shifts frequencies by the Doppler term, steps,
    // then moves positions by velocity * dt. knm is only read.
    Status run_moving_frame_schedule(std::span<double> phases, std::span<double> positions,
                                     std::span<const double> omega_schedule, std::span<const double> knm,
                                     std::span<const double> alpha, std::span<const double> velocity_schedule,
                                     double zeta, double psi, const AxialDecay& decay, const DopplerControls& doppler,
                                     std::uint64_t n_steps);
};

}  // namespace qel::upde
