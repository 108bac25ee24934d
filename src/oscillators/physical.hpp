// The physical channel: an oscillator observed as a sampled analytic signal
// z_k = x_k + i y_k, reduced to its current phase, angular frequency, mean
// amplitude and the steadiness of that amplitude.
#pragma once
#include <span>

#include "types/error.hpp"

namespace qel::physical {

struct PhysicalPhase {
    double theta = 0.0;      // angle of the last sample, in [0, 2pi]
    double omega = 0.0;      // median instantaneous angular frequency, rad/s
    double amplitude = 0.0;  // mean modulus
    double quality = 0.0;    // 1 - (spread of the modulus) / mean, clamped to [0, 1]; NaN kept
};

// All zeros for empty input or unequal lengths. Non-finite samples and any
// sample rate propagate through the arithmetic; the only failure is an
// interrupt by the caller during a long record.
Result<PhysicalPhase, PlainError> extract_from_analytic(std::span<const double> real, std::span<const double> imag,
                                                        double sample_rate);

}  // namespace qel::physical
