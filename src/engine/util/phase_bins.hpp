// Binning of values into n equal bins, shared by the histogram-based measures.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/util/saturate.hpp"
#include "engine/util/wrap.hpp"

namespace qel {

// The bin of `offset` (the distance from the first bin's start) on bins of
// `width`: truncated, negatives and NaN in bin 0, and anything at or past the
// end (a value that rounds up to the top) in the last bin.
inline std::uint64_t bin_index(double offset, double width, std::uint64_t n_bins) {
    return std::min(to_u64_sat(offset / width), n_bins - 1);
}

// The bin of a phase among n_bins equal bins of [0, 2pi), wrapped by two
// remainders (not wrap_phase): NaN and infinities fall into bin 0.
inline std::uint64_t phase_bin(double x, std::uint64_t n_bins) {
    const double width = kTwoPi / static_cast<double>(n_bins);
    return bin_index(std::fmod(std::fmod(x, kTwoPi) + kTwoPi, kTwoPi), width, n_bins);
}

}  // namespace qel
