// Kuramoto networks on the n-torus: each phase travels as a unit vector
// (cos theta, sin theta), turned by an exact rotation through w_i dt (w_i the
// phase velocity: frequency, coupling, drive) and renormalised; angles are
// formed again only after the last step.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "types/failure.hpp"
#include "types/result.hpp"

namespace qel::geometric {

// n is the length of phases. Validates nothing: non-finite values pass
// through. With n >= 1 and n_steps >= 1, an omegas shorter than n, a knm
// shorter than n*n, or an alpha shorter than n*n holding a nonzero lag is an
// InternalError before any step, as is an interrupt between steps.
Result<std::vector<double>, InternalError> torus_run(std::span<const double> phases, std::span<const double> omegas,
                                                     std::span<const double> knm, std::span<const double> alpha,
                                                     double zeta, double psi, double dt, std::uint64_t n_steps);

}  // namespace qel::geometric
