#include "supervisor/projector.hpp"

#include <cmath>
#include <limits>

namespace qel::projector {

double ActionProjector::project(Knob k, double v, double p) const {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const auto& bounds = value_bounds[static_cast<std::size_t>(k)];
    double lo = bounds ? bounds->first : -kInf;
    double hi = bounds ? bounds->second : kInf;
    // Equal infinite bounds would pin the knob at an infinity: like every other
    // unusable interval they give 0.0, so the result is always finite.
    if (hi < lo || std::isnan(lo) || std::isnan(hi) || (lo == hi && std::isinf(lo)) || !std::isfinite(v) ||
        !std::isfinite(p))
        return 0.0;
    // Bounds are ordered, not NaN and not one infinite point here, so clamping
    // never makes NaN or an infinity.
    auto clamp = [&](double x) {
        double m = x < lo ? lo : x;
        return m > hi ? hi : m;
    };
    const auto& rate = rate_limits[static_cast<std::size_t>(k)];
    if (!rate) return clamp(v);
    double r = *rate;
    if (!std::isfinite(r) || r < 0.0) return clamp(p);
    double c = clamp(v);
    double d = c - p;
    if (std::fabs(d) <= r) return c;
    return clamp(d > 0.0 ? p + r : p - r);
}

}  // namespace qel::projector
