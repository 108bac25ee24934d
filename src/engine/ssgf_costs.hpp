// A self-organising cost of a coupling matrix W (flat row-major n x n) and a
// phase vector: phase incoherence, lack of algebraic connectivity, mean
// coupling magnitude and coupling asymmetry, and their weighted sum.
#pragma once
#include <cstddef>
#include <span>

#include "types/error.hpp"

namespace qel::ssgf_costs {

struct Weights {
    double w1 = 1.0, w2 = 0.5, w3 = 0.1, w4 = 0.1;
};

struct Costs {
    double c1 = 0.0;  // 1 - R (shared, clamped order parameter)
    double c2 = 0.0;  // -lambda2 of the Laplacian; -0.0 for n < 2
    double c3 = 0.0;  // mean |w|
    double c4 = 0.0;  // ||W - W^T||_F / n
    double u = 0.0;   // ((w1*c1 - w2*lambda2) + w3*c3) + w4*c4
};

// The costs of inputs that passed check(): w holds n*n finite values, phases
// n finite values, the weights are finite and not negative.
Result<Costs, PlainError> compute_ssgf_costs(std::span<const double> w, std::span<const double> phases, std::size_t n,
                                             const Weights& weights);

// The input checks in their order (ValueError texts), then the costs.
Result<Costs, PlainError> checked_ssgf_costs(std::span<const double> w, std::span<const double> phases, std::size_t n,
                                             const Weights& weights);

}  // namespace qel::ssgf_costs
