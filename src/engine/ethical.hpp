// An ethical cost of a network state: a score J from coherence, algebraic
// connectivity, coupling density and phase spread, a quadratic penalty for
// violated minimum coherence, minimum connectivity and maximum coupling, and
// the cost 1 - J + penalty. The connectivity comes from a classical Jacobi
// iteration of its own (fiedler_value_inline), not from the spectral module.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "types/error.hpp"

namespace qel::ethical {

struct Params {
    double alpha_r = 0.0;           // weight of coherence
    double beta_k = 0.0;            // weight of connectivity
    double gamma_q = 0.0;           // weight of density
    double nu_s = 0.0;              // weight of phase spread
    double kappa = 0.0;             // penalty factor
    double r_min = 0.0;             // minimum coherence
    double connectivity_min = 0.0;  // minimum algebraic connectivity
    double max_coupling = 0.0;      // maximum coupling
};

struct EthicalCost {
    double score = 0.0;  // J
    double penalty = 0.0;
    double cost = 1.0;
    std::uint64_t violations = 0;  // 0 to 3
};

// Second-smallest diagonal entry, clamped at 0.0 (NaN gives 0.0), after at
// most 100*n^2 Jacobi rotations of the row Laplacian L_ij = -|K_ij|,
// L_ii = sum_j |K_ij| (not symmetrised; the rotations treat it as if it
// were). 0.0 for n < 2, knm unread. Needs n*n entries of knm (an internal
// error otherwise); asks for interrupts between rotations.
Result<double, PlainError> fiedler_value_inline(std::span<const double> knm, std::size_t n);

// m = len(phases) need not equal n: every phase enters the sums, which are
// divided by n. Density and the coupling maximum read the whole knm array.
// n = 0 gives (0, 0, 1, 0) with nothing read.
Result<EthicalCost, PlainError> compute_ethical_cost(std::span<const double> phases, std::span<const double> knm,
                                                     std::size_t n, const Params& p);

}  // namespace qel::ethical
