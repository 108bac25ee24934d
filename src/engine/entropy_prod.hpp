// Dissipation of a Kuramoto network in a given state.
#pragma once
#include <span>

namespace qel::entropy_prod {

// dt * sum_i (omega_i + (alpha/N) sum_j K_ij sin(theta_j - theta_i))^2 over the
// N = len(phases) oscillators, knm flat row-major N x N. 0.0 when dt <= 0, N is
// 0, or omegas or knm have another length; non-finite inputs propagate.
double entropy_production_rate(std::span<const double> phases, std::span<const double> omegas,
                               std::span<const double> knm, double alpha, double dt);

}  // namespace qel::entropy_prod
