// Coupling estimation: least-squares fit of a Kuramoto coupling matrix to an
// observed phase series and known natural frequencies.
#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "engine/util/pool_stop.hpp"
#include "types/error.hpp"

namespace qel::coupling_est {

// Read-only inputs shared by every node: phases oscillator-major n x t,
// deriv the wrapped increments over dt, oscillator-major n x (t-1).
struct Series {
    const double* phases;
    const double* deriv;
    const double* omegas;
    std::size_t n;
    std::size_t t;
};

// Couplings into oscillator i (row i of the estimate, n values, zero at i):
// normal equations of the regressors sin(theta_a - theta_i) against the
// residual rates, Gaussian elimination with partial pivoting. Its inner
// loops run on the pool; may throw std::bad_alloc. With a stop, asks it
// between blocks of samples and leaves row unwritten once it says yes.
void solve_node(const Series& s, std::size_t i, std::span<double> row, const pool::Stop* stop = nullptr);

// The n x n estimate, row-major. Unusable input (n = 0, t < 3, lengths other
// than n*t and n, dt not positive and finite, a non-finite phase or
// frequency) gives zeros. Errors: n*n beyond any allocation ("capacity
// overflow") and an interrupted loop.
Result<std::vector<double>, PlainError> estimate_coupling(std::span<const double> phases,
                                                          std::span<const double> omegas, std::size_t n, std::size_t t,
                                                          double dt);

}  // namespace qel::coupling_est
