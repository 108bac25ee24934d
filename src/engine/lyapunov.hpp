// Lyapunov spectrum of the driven Kuramoto-Sakaguchi network
//   dtheta_i/dt = omega_i + sum_j K_ij sin(theta_j - theta_i - alpha_ij) + zeta sin(psi - theta_i)
// by integrating the phases and an N x N tangent matrix Q (dQ/dt = J(theta) Q)
// together with classical RK4 steps, re-orthonormalising Q every qr_interval
// steps and averaging the logarithms of the column norms over the time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/util/stepper_kit.hpp"
#include "types/error.hpp"

namespace qel::lyapunov {

// The drive is the steppers' (kit::Drive: zs = zeta sin(psi), zc = zeta
// cos(psi), off when zeta == 0; a NaN zeta drives).
using Drive = kit::Drive;

// Orthonormalises the columns of the row-major n x n matrix q in place
// (each column projected twice against the ones before it), returning the
// column norms found on the way. A column of norm <= 1e-300 is left unscaled.
std::vector<double> modified_gram_schmidt(std::span<double> q, std::size_t n);

// The N exponents (per unit time) in descending order, N = len(phases_init).
// Errors, first failing first: "omegas length {} != phases length {}",
// "knm length {} != N*N={}", "alpha length {} != N*N={}", then N == 0 gives
// an empty spectrum, "qr_interval must be > 0", and the zero-diagonal rule
// (|K_ii| <= 1e-12).
Result<std::vector<double>, PlainError> lyapunov_spectrum(std::span<const double> phases_init,
                                                          std::span<const double> omegas, std::span<const double> knm,
                                                          std::span<const double> alpha, double dt,
                                                          std::uint64_t n_steps, std::uint64_t qr_interval, double zeta,
                                                          double psi);

}  // namespace qel::lyapunov
