// Phase wrapping shared by every stepper and every returned mean phase.
#pragma once
#include <cmath>
#include <span>

namespace qel {

inline constexpr double kPi = 3.141592653589793;
inline constexpr double kTwoPi = 6.283185307179586;

// fmod by 2pi, then 2pi added to a negative remainder. The sum is not reduced
// again: a remainder a few ulps below zero gives exactly 2pi, and -0.0 stays.
inline double wrap_phase(double x) {
    // fmod is exact and gives x itself on [0, 2pi), where most phases already
    // are; skipping the call there saves most of its cost and no bit.
    double r = (x >= 0.0 && x < kTwoPi) ? x : std::fmod(x, kTwoPi);
    return r < 0.0 ? r + kTwoPi : r;
}

inline void wrap_phases(std::span<double> phases) {
    for (double& p : phases) p = wrap_phase(p);
}

}  // namespace qel
