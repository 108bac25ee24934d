// Sparse identification of a Kuramoto-type phase model: per oscillator, the
// phase velocity regressed on a constant and the sines of its phase
// differences to every other oscillator, sparsified by sequentially
// thresholded least squares.
#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::sindy {

// The checks of sindy_fit, in order; the first failing one's message.
Result<void, PlainError> validate_sindy_inputs(std::span<const double> phases, std::size_t n_osc, std::size_t n_time,
                                               double dt, double threshold, std::size_t max_iter);

// n_osc x n_osc coefficients, row-major: entry i*n_osc + i the natural
// frequency of oscillator i, entry i*n_osc + j the coupling of j into i.
// Least squares by the normal equations with partial pivoting: pivots and
// diagonal entries below 1e-14 give the coefficient 0.0.
// Phases time-major (sample t, oscillator i at t*n_osc + i).
Result<std::vector<double>, PlainError> sindy_fit(std::span<const double> phases, std::size_t n_osc, std::size_t n_time,
                                                  double dt, double threshold, std::size_t max_iter);

}  // namespace qel::sindy
