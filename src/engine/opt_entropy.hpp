// Ordinal patterns: the rank order of the values in each delay window of a
// scalar series, coded as the window's lexicographic permutation index.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::opt_entropy {

// Number of windows x[t], x[t+delay], ..., x[t+(dimension-1)*delay] in a
// series of `len` values: 0 when the span does not fit (or overflows); for
// dimension 0, len when delay is 0 and 0 otherwise.
std::size_t window_count(std::size_t len, std::size_t dimension, std::size_t delay);

// One code per window, in window order: the Lehmer code of the window's
// sorting permutation, equal values ranked by position, in wrap-around
// 64-bit arithmetic (exact up to dimension 20). A NaN is taken where the
// selection scan meets it first. Windows of one value, or of delay 0, are
// code 0; no scratch is allocated beyond the windows that exist.
Result<std::vector<std::int64_t>, PlainError> ordinal_pattern_sequence(std::span<const double> series,
                                                                       std::size_t dimension, std::size_t delay);

}  // namespace qel::opt_entropy
