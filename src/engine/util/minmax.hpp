// Min and max with a stated NaN rule. std::min/std::max depend on argument
// order when NaN is present and fmin/fmax drop NaN; each site picks one.
#pragma once
#include <cmath>

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

}  // namespace qel
