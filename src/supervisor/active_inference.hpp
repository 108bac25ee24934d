// Drive command from an observation of synchrony: a gain in [0, 5] and a
// target phase for the external drive.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

#include "types/error.hpp"

namespace qel::active_inference {

struct ActiveInferenceAgent {
    // Size of the agent's internal model. Validated but read by no result, so
    // no model is kept: a huge value costs nothing.
    std::uint64_t n_hidden = 4;
    double target_r = 0.5;
    double lr = 1.0;

    static QelResult<ActiveInferenceAgent> create(std::uint64_t n_hidden, double target_r, double lr);

    // From phases: gain 10 * (target_r - R) in [0, 5], the mean phase turned
    // by pi when R is below the target; (0, 0) for empty or non-finite input.
    std::pair<double, double> control(std::span<const double> phases) const;

    // From an already measured R and mean phase (target_r and 0.0 when absent):
    // gain 10 * lr * |R - target_r| in [0, 5], the phase turned by pi when R
    // is above the target and returned untouched otherwise.
    std::pair<double, double> control_observed(std::optional<double> r_obs, std::optional<double> psi_obs) const;
};

}  // namespace qel::active_inference
