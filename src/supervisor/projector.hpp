// The last safety stage of the control loop: a new knob value is moved into
// the knob's bounds and at most its rate limit away from the previous value.
#pragma once
#include <array>
#include <optional>
#include <utility>

#include "types/action.hpp"

namespace qel::projector {

struct ActionProjector {
    // Indexed by knob code; an absent entry means no rate limit, or the bounds
    // (-inf, inf). Entries are stored unchecked: project() decides what a
    // negative, NaN or inverted entry means.
    std::array<std::optional<double>, 4> rate_limits{};
    std::array<std::optional<std::pair<double, double>>, 4> value_bounds{};

    void set_rate_limit(Knob k, double r) { rate_limits[static_cast<std::size_t>(k)] = r; }
    void set_bounds(Knob k, double lo, double hi) { value_bounds[static_cast<std::size_t>(k)] = {lo, hi}; }

    // Always finite: unusable bounds (inverted, NaN, or one infinite point) or
    // a non-finite value or previous value give 0.0, an unusable rate holds
    // the previous value (clamped).
    double project(Knob k, double value, double previous) const;
};

}  // namespace qel::projector
