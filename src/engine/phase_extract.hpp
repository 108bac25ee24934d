// Phases of a raw real signal through its analytic signal, built in the
// frequency domain by direct discrete Fourier transforms (no fast transform,
// no window): per sample the phase, amplitude and instantaneous frequency,
// and the dominant frequency of the record.
#pragma once
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::phase_extract {

struct AnalyticPhases {
    std::vector<double> phases;  // radians, in [0, 2pi]
    std::vector<double> amplitudes;
    std::vector<double> frequencies;  // cycles per second; the first is 0
    double dominant_frequency = 0.0;  // cycles per second, never from bin 0
};

// Empty sequences and 0.0 for fewer than 4 samples. Non-finite samples and
// any fs propagate. The only failure is an interrupt by the caller: the
// transforms cost O(n^2).
Result<AnalyticPhases, PlainError> extract_phases(std::span<const double> signal, double fs);

}  // namespace qel::phase_extract
