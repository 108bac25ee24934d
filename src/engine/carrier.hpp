// Decoding an n x n coupling matrix from a latent carrier vector: each entry
// is the softplus of a linear read-out of the carrier, the diagonal zero.
#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::carrier {

// softplus(x) = ln(exp(x) + 1), x itself above 20 and 0.0 below -20.
double softplus(double x);

// K[r] = softplus(sum_j a[r*m + j] * z[j]) for r < n*n (m = len(z)), in j
// order from 0.0; ln 2 everywhere for m = 0; then K[i*n + i] = 0.
Result<std::vector<double>, PlainError> carrier_decode(std::span<const double> z, std::span<const double> a,
                                                       std::size_t n);

}  // namespace qel::carrier
