#include "supervisor/policy.hpp"

#include <cmath>
#include <optional>

#include "types/format.hpp"

namespace qel::policy {

namespace {

// Index of the smallest finite R, the first on ties.
std::optional<std::size_t> weakest_layer(const std::vector<LayerState>& layers) {
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < layers.size(); ++i) {
        if (!std::isfinite(layers[i].R)) continue;
        if (!best || layers[i].R < layers[*best].R) best = i;
    }
    return best;
}

}  // namespace

std::vector<ControlAction> SupervisorPolicy::decide(const UPDEState& state, const boundaries::BoundaryState& boundary) {
    std::vector<ControlAction> actions;
    if (!state.validate().ok()) return actions;
    const Regime now = manager_.transition(manager_.evaluate(state, boundary));
    switch (now) {
        case Regime::Nominal: break;
        case Regime::Degraded:
            actions.push_back({Knob::K, "global", 0.05, 10.0, "degraded: boost global coupling"});
            break;
        case Regime::Recovery:
            actions.push_back({Knob::K, "global", 0.025, 15.0, "recovery: gradual coupling restore"});
            break;
        case Regime::Critical:
            actions.reserve(2);
            actions.push_back({Knob::zeta, "global", 0.1, 5.0, "critical: increase damping"});
            if (auto i = weakest_layer(state.layers))
                actions.push_back({Knob::K, text::cat("layer_", *i), -0.03, 5.0,
                                   text::cat("critical: reduce coupling on layer ", *i)});
            break;
    }
    std::erase_if(actions, [](const ControlAction& a) { return !a.validate().ok(); });
    return actions;
}

}  // namespace qel::policy
