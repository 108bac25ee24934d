// Python wrappers of the boundary observer, the regime manager and the
// supervisor policy.
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "bindings/frame.hpp"
#include "supervisor/boundaries.hpp"
#include "supervisor/policy.hpp"
#include "supervisor/regime.hpp"
#include "types/action.hpp"

namespace qel::py {

namespace {

using boundaries::BoundaryObserver;
using policy::SupervisorPolicy;
using regime::RegimeManager;

// (name, metric, lower, upper, severity)
using BoundaryTuple = std::tuple<std::string, std::string, std::optional<double>, std::optional<double>, std::string>;

Dict action_dict(ControlAction&& a) {
    Dict d;
    d.set("knob", knob_name(a.knob));
    d.set("scope", std::move(a.scope));
    d.set("value", a.value);
    d.set("ttl_s", a.ttl_s);
    d.set("justification", std::move(a.justification));
    return d;
}

// Parses a regime name, applies op to it and names the regime op leaves.
template <class Op>
Result<std::string_view, PlainError> with_regime(const std::string& name, Op op) {
    return and_then(parse_regime(name), [&](auto r) { return regime_name(op(r)); });
}

}  // namespace

QEL_BINDINGS(supervisor_regime) {
    m.cls<BoundaryObserver>("PyBoundaryObserver", "PyBoundaryObserver()", "", [] { return BoundaryObserver{}; })
        .method("observe", "observe($self, defs, values)",
                "Observe boundary violations. Returns dict with violations, soft_violations, hard_violations.",
                [](const BoundaryObserver& o, std::vector<BoundaryTuple> defs, DictArg<std::string, double> values) {
                    std::vector<boundaries::BoundaryDef> d;
                    d.reserve(defs.size());
                    for (auto& [name, metric, lower, upper, severity] : defs)
                        d.push_back(
                            {std::move(name), std::move(metric), lower, upper, boundaries::parse_severity(severity)});
                    boundaries::BoundaryState st = o.observe(d, values.items);
                    Dict out;
                    out.set("violations", std::move(st.violations));
                    out.set("soft_violations", std::move(st.soft_violations));
                    out.set("hard_violations", std::move(st.hard_violations));
                    return out;
                });

    m.cls<RegimeManager>("PyRegimeManager",
                         "PyRegimeManager(hysteresis=0.05, cooldown_steps=10, hysteresis_hold_steps=0)", "",
                         [](double hysteresis, std::uint64_t cooldown_steps, std::uint64_t hysteresis_hold_steps) {
                             return RegimeManager(hysteresis, cooldown_steps, hysteresis_hold_steps);
                         })
        .method("evaluate", "evaluate($self, layer_rs, hard_violations)",
                "Evaluate regime from layer R values and boundary violations.",
                [](const RegimeManager& rm, std::vector<double> layer_rs, std::vector<std::string> hard_violations) {
                    return regime_name(rm.evaluate(state_from_layer_rs(layer_rs),
                                                   boundaries::make_boundary_state(std::move(hard_violations))));
                })
        .method("transition", "transition($self, proposed)",
                "Apply transition with cooldown/hysteresis. Returns actual regime string.",
                [](RegimeManager& rm, std::string proposed) {
                    return with_regime(proposed, [&](Regime r) { return rm.transition(r); });
                })
        .method("force_transition", "force_transition($self, regime)",
                "Bypass cooldown and hysteresis hold \u2014 event-driven triggers.",
                [](RegimeManager& rm, std::string regime) {
                    return with_regime(regime, [&](Regime r) { return rm.force_transition(r); });
                })
        .getter("current", "", [](const RegimeManager& rm) { return regime_name(rm.current()); })
        .getter("transition_log", "", [](const RegimeManager& rm) {
            std::vector<std::tuple<std::uint64_t, std::string_view, std::string_view>> log;
            log.reserve(rm.log_size());
            for (std::size_t i = 0; i < rm.log_size(); ++i) {
                const regime::LogEntry& e = rm.log_entry(i);
                log.emplace_back(e.step, regime_name(e.from), regime_name(e.to));
            }
            return log;
        });

    m.cls<SupervisorPolicy>("PySupervisorPolicy", "PySupervisorPolicy(hysteresis=0.05, cooldown_steps=10)", "",
                            [](double hysteresis, std::uint64_t cooldown_steps) {
                                return SupervisorPolicy(hysteresis, cooldown_steps);
                            })
        .method("decide", "decide($self, layer_rs, hard_violations)", "",
                [](SupervisorPolicy& p, std::vector<double> layer_rs, std::vector<std::string> hard_violations) {
                    std::vector<ControlAction> actions =
                        p.decide(state_from_layer_rs(layer_rs),
                                 boundaries::make_boundary_state(std::move(hard_violations)));
                    std::vector<Dict> out;
                    out.reserve(actions.size());
                    for (ControlAction& a : actions) out.push_back(action_dict(std::move(a)));
                    return out;
                });
}

}  // namespace qel::py
