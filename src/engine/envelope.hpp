// Amplitude envelopes: the RMS over a trailing window from prefix sums of
// squares, and the modulation depth of an envelope.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::envelope {

// Entry i >= w-1 is sqrt((c[i+1] - c[i+1-w]) / w) with c the prefix sums of
// squares in index order; entries before w-1 repeat entry w-1. Window 0
// copies, a window beyond the length gives zeros. Non-finite samples are
// refused whatever the window. `out` holds as many values as `amplitudes`
// (the caller's result array: no other buffer of that size is allocated).
Result<void, PlainError> extract_envelope(std::span<const double> amplitudes, std::uint64_t window,
                                          std::span<double> out);

// (max - min) / (max + min) with NaN values skipped; 0.0 when the sum of the
// extremes is <= 0 or the envelope is empty.
double modulation_depth(std::span<const double> envelope);

}  // namespace qel::envelope
