// Steady-state synchrony of a Kuramoto-Sakaguchi network under a global
// coupling scale k:
//   dtheta_i/dt = omega_i + sum_j k K_ij sin(theta_j - theta_i - alpha_ij)
// (every j, the diagonal included, no 1/n), relaxed by explicit Euler steps.
// steady_state_r is the one kernel behind the coupling sweep, the bisection
// for the critical coupling and basin stability.
//
// Inputs are flat row-major n x n matrices for knm and alpha (entry i*n + j
// couples j into i). Lengths are not required to match n exactly: a call fails
// with an internal error only when it would read past an input (see
// check_reads), and extra entries are ignored.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::bifurcation {

// Pairs whose scaled coupling is smaller than this in magnitude are skipped:
// no sine, no lag read. NaN is never skipped.
inline constexpr double kSkipBelow = 1e-30;
// The order parameter that counts as synchronised in the sweep and the bisection.
inline constexpr double kSyncThreshold = 0.1;

// Whether steps at k_scale over n_phases phases read only entries that exist:
// n phases and omegas, n*n couplings, and a lag for every pair that is not
// skipped. Callers that run no step, or have n = 0, read nothing and need not ask.
Result<void, PlainError> check_reads(std::size_t n_phases, std::span<const double> omegas, std::span<const double> knm,
                                     std::span<const double> alpha, std::size_t n, double k_scale);

// One Euler step on a snapshot of the phases: phases[i] for i < n becomes
// old[i] + dt * (s_i + omega_i); the rest is untouched; nothing is wrapped.
Result<void, PlainError> kuramoto_step(std::span<double> phases, std::span<const double> omegas,
                                       std::span<const double> knm, std::span<const double> alpha, std::size_t n,
                                       double k_scale, double dt);

// A copy of phases_init relaxed for n_transient steps, then the unclamped
// order parameter over all its entries after each of n_measure more steps,
// averaged (NaN for n_measure = 0). Asks for interrupts between steps, so it
// runs on the calling thread only; a large n splits each step's rows over the
// pool (every row its own sum: the same bits).
Result<double, PlainError> steady_state_r(std::span<const double> phases_init, std::span<const double> omegas,
                                          std::span<const double> knm, std::span<const double> alpha, std::size_t n,
                                          double k_scale, double dt, std::uint64_t n_transient,
                                          std::uint64_t n_measure);

struct Transition {
    std::vector<double> grid;
    std::vector<double> r_values;
    double k_c = 0.0;  // NaN when R never rises through the threshold
};

// steady_state_r at n_points evenly spaced scales from k_min to k_max, the
// points on the worker pool, and the first upward crossing of the threshold,
// interpolated linearly.
Result<Transition, PlainError> trace_sync_transition(std::span<const double> phases_init,
                                                     std::span<const double> omegas, std::span<const double> knm,
                                                     std::span<const double> alpha, std::size_t n, double k_min,
                                                     double k_max, std::uint64_t n_points, double dt,
                                                     std::uint64_t n_transient, std::uint64_t n_measure);

// Bisection of the scale on [0, 20] for the threshold crossing: at most 31
// runs; NaN when R at 20 is below the threshold.
Result<double, PlainError> find_critical_coupling(std::span<const double> phases_init, std::span<const double> omegas,
                                                  std::span<const double> knm, std::span<const double> alpha,
                                                  std::size_t n, double dt, std::uint64_t n_transient,
                                                  std::uint64_t n_measure, double tol);

struct Basin {
    double fraction = 0.0;
    std::vector<double> r_values;
    std::uint64_t count = 0;
};

// steady_state_r at scale 1 from n_samples initial conditions drawn uniformly
// on [0, 2pi)^n from one MmixLcg stream seeded with `seed` (sample s takes the
// draws s*n + 1 ... s*n + n), the samples on the worker pool; the share whose
// R reaches r_threshold.
Result<Basin, PlainError> basin_stability(std::span<const double> omegas, std::span<const double> knm,
                                          std::span<const double> alpha, std::size_t n, double dt,
                                          std::uint64_t n_transient, std::uint64_t n_measure, std::uint64_t n_samples,
                                          double r_threshold, std::uint64_t seed);

}  // namespace qel::bifurcation
