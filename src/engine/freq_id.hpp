// Dominant frequencies of a multichannel recording from the first peak of
// each channel's autocorrelation, merged into a sorted set of distinct values.
#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::freq_id {

// data holds n_ch rows of n_samples; the per-channel frequencies sorted
// ascending, a value kept when it differs from the last kept one by more
// than fs / n_samples. Empty for n_ch = 0 or n_samples < 3.
Result<std::vector<double>, PlainError> identify_frequencies(std::span<const double> data, std::size_t n_ch,
                                                             std::size_t n_samples, double fs);

}  // namespace qel::freq_id
