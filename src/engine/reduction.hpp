// The Ott-Antonsen reduction of a Kuramoto population with Lorentzian
// frequencies (centre omega_0, half-width delta): the mean-field equation for
// the complex order parameter z, a Lorentzian fitted to frequency samples, and
// the steady-state order parameter. All on the calling thread.
#pragma once
#include <cstdint>
#include <span>

#include "types/error.hpp"

namespace qel::reduction {

// z = x + i y; r = |z| (not capped at 1), psi = atan2(y, x) in [-pi, pi].
struct OaState {
    double x = 0.0, y = 0.0, r = 0.0, psi = 0.0;
};

// n_steps classical RK4 steps of dz/dt = (K/2)(1 - |z|^2) z - (delta + i omega_0) z.
// Nothing is validated: non-finite values propagate. Fails only when the
// caller interrupts.
Result<OaState, PlainError> oa_run(double z_re, double z_im, double omega_0, double delta, double k_coupling, double dt,
                                   std::uint64_t n_steps);

struct LorentzianFit {
    double omega_0 = 0.0, delta = 0.0;
};

// Median and half the quartile distance of the samples (elements of the
// stable ascending order, NaN last, no interpolation); a zero or negative
// spread gives delta = 0.01, and no samples (0, 0.01).
LorentzianFit fit_lorentzian(std::span<const double> omegas);

// sqrt(1 - 2 delta / K) for K > 2 delta >= 0, else 0; "delta and k_coupling
// must be finite" otherwise.
Result<double, PlainError> steady_state_r_oa(double delta, double k_coupling);

}  // namespace qel::reduction
