// One step of the transfer-entropy learning rule for a coupling matrix.
#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::te_adaptive {

// K'_ij = max(0, te_ij * lr + K_ij * (1 - decay)) off the diagonal (NaN and
// -0.0 give +0.0), 0.0 on it; te is read at the same flat positions as knm,
// untransposed. Diagonal positions are never read, so n*n - 1 entries of
// each suffice; fewer is an internal error, reported before the result is
// allocated.
Result<std::vector<double>, PlainError> adapt_coupling(std::span<const double> knm, std::span<const double> te,
                                                       std::size_t n, double lr, double decay);

}  // namespace qel::te_adaptive
