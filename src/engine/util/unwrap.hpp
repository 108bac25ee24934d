// Steps between successive phases taken the short way round the circle.
#pragma once
#include <cmath>

#include "engine/util/wrap.hpp"

namespace qel {

// The principal difference: d moved into [-pi, pi] by whole turns, one
// addition of 2pi at a time (the repeated addition is part of the rounding,
// no fmod). A NaN skips both loops; the work grows with |d| / 2pi.
inline double principal_step(double d) {
    while (d > kPi) d += -kTwoPi;
    while (d < -kPi) d += kTwoPi;
    return d;
}

// fmod(x, 2pi), skipping the call where it would return x unchanged (|x| below 2pi).
inline double turn_remainder(double x) { return std::fabs(x) < kTwoPi ? x : std::fmod(x, kTwoPi); }

}  // namespace qel
