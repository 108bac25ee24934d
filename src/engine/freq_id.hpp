// Dominant frequencies of a multichannel recording from the first peak of
// each channel's autocorrelation, merged into a sorted set of distinct values.
#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::freq_id {

// One channel's frequency: fs / L for the first autocorrelation peak L after
// the first zero crossing, 0.0 without one (and for fewer than 6 samples or a
// constant channel). Runs its lags on the pool; false when interrupted.
bool channel_frequency(std::span<const double> samples, double fs, double& freq);

// data holds n_ch rows of n_samples; the per-channel frequencies sorted
// ascending, a value kept when it differs from the last kept one by more
// than fs / n_samples. Empty for n_ch = 0 or n_samples < 3.
Result<std::vector<double>, PlainError> identify_frequencies(std::span<const double> data, std::size_t n_ch,
                                                             std::size_t n_samples, double fs);

}  // namespace qel::freq_id
