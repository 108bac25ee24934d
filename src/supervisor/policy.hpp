// The supervisor policy: one control decision per call, from the regime that
// its own regime manager holds after evaluating the measurements.
#pragma once
#include <cstdint>
#include <vector>

#include "supervisor/boundaries.hpp"
#include "supervisor/regime.hpp"
#include "types/action.hpp"

namespace qel::policy {

class SupervisorPolicy {
public:
    // The manager never holds escalations.
    SupervisorPolicy(double hysteresis, std::uint64_t cooldown_steps) : manager_(hysteresis, cooldown_steps, 0) {}

    // Validated actions of the regime after one transition request; an
    // invalid state gives none and leaves the manager untouched.
    std::vector<ControlAction> decide(const UPDEState& state, const boundaries::BoundaryState& boundary);

private:
    regime::RegimeManager manager_;
};

}  // namespace qel::policy
