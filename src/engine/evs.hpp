// Frequency specificity of inter-trial phase locking: the mean coherence of
// the phases against that of the same phases rescaled to a control frequency.
#pragma once
#include <cstddef>
#include <span>

#include "types/error.hpp"

namespace qel::evs {

// A / B, where A and B are the mean coherences sqrt(C^2 + S^2) / N of the
// phases and of the phases times control_freq / target_freq. 0.0 for T or
// N = 0 and for a frequency <= 0; +inf (A > 0) or 0.0 when B < 1e-12.
Result<double, PlainError> frequency_specificity(std::span<const double> phases, std::size_t n_trials,
                                                 std::size_t n_timepoints, double target_freq, double control_freq);

}  // namespace qel::evs
