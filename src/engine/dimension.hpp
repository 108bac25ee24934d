// Fractal dimensions of an attractor: the correlation sums C(eps) of a
// trajectory over all pairs of points or a seeded sample of pairs, and the
// Kaplan-Yorke dimension of a Lyapunov spectrum.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::dimension {

// One C(eps) per epsilon: the share of pair distances strictly below eps
// (NaN distances count in the total only). The trajectory is T points of d
// values, time-major. All T(T-1)/2 pairs when they fit max_pairs, else
// floor(max_pairs / W) seeded ordered pairs from each of W chunks, W the
// pool's worker count: that sample depends on W.
Result<std::vector<double>, PlainError> correlation_integral(std::span<const double> trajectory, std::uint64_t t,
                                                             std::uint64_t d, std::span<const double> epsilons,
                                                             std::uint64_t max_pairs, std::uint64_t seed);

// Kaplan-Yorke dimension of exponents in any order: j + 1 + cs[j] / |l[j+1]|
// for the sorted spectrum l, its cumulative sums cs and j the last index
// before the sums turn negative.
double kaplan_yorke_dimension(std::span<const double> exponents);

}  // namespace qel::dimension
