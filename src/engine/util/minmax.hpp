// Min and max with a stated NaN rule. std::min/std::max depend on argument
// order when NaN is present and fmin/fmax drop NaN; each site picks one.
#pragma once
#include <cmath>

#include "engine/util/lanes.hpp"

namespace qel {

// NaN in either argument gives NaN.
inline double nan_min(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return NAN;
    return b < a ? b : a;
}
inline double nan_max(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return NAN;
    return b > a ? b : a;
}

// max(0, x) as std::max(0.0, x) gives it (NaN and -0.0 give +0.0), without a
// branch: where the sign of x is random, a mispredicted branch costs more than
// the arithmetic around it.
inline double positive_part(double x) {
    using lanes::v2;
    const v2 v = {x, x};
    const v2 r = v > 0.0 ? v : v2{};
    return r[0];
}

}  // namespace qel
