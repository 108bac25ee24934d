#include "supervisor/rule_engine.hpp"

#include <cmath>
#include <limits>
#include <utility>

#include "types/action.hpp"
#include "types/format.hpp"
#include "types/text.hpp"

namespace qel::rule_engine {

namespace {

using text::cat;
using text::quoted;
using text::to_upper;

bool finite_non_negative(double v) { return std::isfinite(v) && !(v < 0.0); }

// First failing check of one condition, or nothing.
std::optional<std::string> check_condition(const Condition& c) {
    if (c.metric.empty()) return std::string("policy condition metric must not be empty");
    if (!std::isfinite(c.threshold)) return cat("policy condition ", quoted(c.metric), ": threshold must be finite");
    return std::nullopt;
}

std::optional<std::string> check_rule(const PolicyRule& r) {
    if (r.name.empty()) return std::string("policy rule name must not be empty");
    if (const auto* simple = std::get_if<Condition>(&r.condition)) {
        if (auto msg = check_condition(*simple)) return msg;
    } else {
        const auto& compound = std::get<CompoundCondition>(r.condition);
        if (compound.conditions.empty()) return std::string("compound policy condition must not be empty");
        for (const Condition& c : compound.conditions) {
            if (auto msg = check_condition(c)) return msg;
        }
    }
    if (!finite_non_negative(r.cooldown_s))
        return cat("policy rule ", quoted(r.name), ": cooldown_s must be finite and >= 0");
    if (r.actions.empty()) return cat("policy rule ", quoted(r.name), ": actions must not be empty");
    for (const RuleAction& a : r.actions) {
        if (a.knob.empty()) return cat("policy rule ", quoted(r.name), ": action knob must not be empty");
        if (a.scope.empty()) return cat("policy rule ", quoted(r.name), ": action scope must not be empty");
        if (!std::isfinite(a.value)) return cat("policy rule ", quoted(r.name), ": action value must be finite");
        if (!finite_non_negative(a.ttl_s))
            return cat("policy rule ", quoted(r.name), ": action ttl_s must be finite and >= 0");
    }
    return std::nullopt;
}

bool condition_holds(const RuleCondition& rc, const MetricMap& metrics) {
    if (const auto* simple = std::get_if<Condition>(&rc)) return simple->evaluate(metrics);
    const auto& compound = std::get<CompoundCondition>(rc);
    if (compound.logic == RuleLogic::And) {
        for (const Condition& c : compound.conditions) {
            if (!c.evaluate(metrics)) return false;
        }
        return true;
    }
    for (const Condition& c : compound.conditions) {
        if (c.evaluate(metrics)) return true;
    }
    return false;
}

bool regime_matches(const PolicyRule& r, std::string_view key) {
    for (const std::string& g : r.regimes) {
        if (g == key) return true;
    }
    return false;
}

}  // namespace

Result<std::vector<PolicyRule>, PlainError> build_rules(std::vector<RuleText> texts) {
    std::vector<PolicyRule> rules;
    rules.reserve(texts.size());
    for (RuleText& t : texts) {
        std::vector<Condition> conditions;
        conditions.reserve(t.conditions.size());
        for (RuleText::ConditionText& c : t.conditions) {
            auto op = condition::parse_op(c.op);
            if (!op) return PlainError{cat("unknown op: ", c.op)};
            conditions.push_back(Condition{std::move(c.metric), c.threshold, *op});
        }
        // Checked for every rule, even one whose single condition never uses it.
        std::string logic_text = to_upper(t.logic);
        RuleLogic logic;
        if (logic_text == "AND") {
            logic = RuleLogic::And;
        } else if (logic_text == "OR") {
            logic = RuleLogic::Or;
        } else {
            return PlainError{cat("unknown rule logic: ", logic_text)};
        }
        PolicyRule r;
        r.name = std::move(t.name);
        if (conditions.size() == 1) {
            r.condition = std::move(conditions.front());
        } else {
            r.condition = CompoundCondition{std::move(conditions), logic};
        }
        r.actions = std::move(t.actions);
        r.regimes.reserve(t.regimes.size());
        for (const std::string& g : t.regimes) r.regimes.push_back(to_upper(g));
        r.cooldown_s = t.cooldown_s;
        r.max_fires = t.max_fires;
        rules.push_back(std::move(r));
    }
    return rules;
}

Result<RuleEngine, PlainError> RuleEngine::create(std::vector<PolicyRule> rules) {
    for (const PolicyRule& r : rules) {
        if (auto msg = check_rule(r)) return PlainError{std::move(*msg)};
    }
    RuleEngine e;
    e.rules = std::move(rules);
    return e;
}

std::vector<FiredAction> RuleEngine::evaluate(std::string_view regime, const MetricMap& metrics) {
    std::vector<FiredAction> fired;
    if (text::is_blank(regime)) return fired;
    // Case is ignored, surrounding blanks are not.
    const std::string key = to_upper(regime);
    for (const PolicyRule& r : rules) {
        if (!regime_matches(r, key)) continue;
        if (!condition_holds(r.condition, metrics)) continue;
        auto it = records.find(r.name);
        if (r.cooldown_s > 0.0) {
            // A name that never fired starts far enough back to pass at any clock >= -1.
            double last = it != records.end() ? it->second.last_fire_time : -1.0 - r.cooldown_s;
            if (r.cooldown_s > clock - last) continue;
        }
        // max_fires 0 wraps to the largest count: unlimited.
        if (it != records.end() && static_cast<std::uint32_t>(r.max_fires - 1u) < it->second.count) continue;
        if (it == records.end()) it = records.emplace(r.name, Record{}).first;
        // The count stops at its largest value rather than wrapping to 0.
        if (it->second.count != std::numeric_limits<std::uint32_t>::max()) ++it->second.count;
        it->second.last_fire_time = clock;
        for (const RuleAction& a : r.actions) fired.push_back(FiredAction{a.knob, a.scope, r.name, a.value, a.ttl_s});
    }
    return fired;
}

MetricMap state_metrics(std::span<const double> layer_rs, std::span<const std::uint64_t> good_layers,
                        std::span<const std::uint64_t> bad_layers, MetricMap extra) {
    const UPDEState state = state_from_layer_rs(layer_rs);
    const std::size_t n = state.layers.size();
    MetricMap m = std::move(extra);
    m.reserve(m.size() + 2 + 4 * n + 2 * (good_layers.size() + bad_layers.size()));
    m.insert_or_assign("stability_proxy", state.stability_proxy);
    // The mean layer R: the same sum in layer order as the stability proxy.
    m.insert_or_assign("R", state.stability_proxy);
    for (std::size_t i = 0; i < n; ++i) {
        const std::string idx = std::to_string(i);
        m.insert_or_assign(cat("R.", idx), state.layers[i].R);
        m.insert_or_assign(cat("R_", idx), state.layers[i].R);
        m.insert_or_assign(cat("psi.", idx), state.layers[i].psi);
        m.insert_or_assign(cat("psi_", idx), state.layers[i].psi);
    }
    auto partition = [&](std::span<const std::uint64_t> layers, std::string_view dot, std::string_view under) {
        for (std::size_t k = 0; k < layers.size(); ++k) {
            if (layers[k] >= n) continue;  // the position's keys are left out
            const std::string pos = std::to_string(k);
            const double r = state.layers[static_cast<std::size_t>(layers[k])].R;
            m.insert_or_assign(cat(dot, pos), r);
            m.insert_or_assign(cat(under, pos), r);
        }
    };
    partition(good_layers, "R_good.", "R_good_");
    partition(bad_layers, "R_bad.", "R_bad_");
    return m;
}

std::vector<FiredAction> RuleEngine::evaluate_state(std::string_view regime, std::span<const double> layer_rs,
                                                    std::span<const std::uint64_t> good_layers,
                                                    std::span<const std::uint64_t> bad_layers, MetricMap extra) {
    const MetricMap m = state_metrics(layer_rs, good_layers, bad_layers, std::move(extra));
    return evaluate(regime, m);
}

void RuleEngine::advance_clock(double dt) {
    if (finite_non_negative(dt)) clock += dt;
}

void RuleEngine::reset() {
    records.clear();
    clock = 0.0;
}

std::uint32_t RuleEngine::fire_count(std::string_view name) const {
    auto it = records.find(std::string(name));
    return it == records.end() ? 0 : it->second.count;
}

std::optional<double> RuleEngine::last_fire_time(std::string_view name) const {
    auto it = records.find(std::string(name));
    if (it == records.end()) return std::nullopt;
    return it->second.last_fire_time;
}

std::vector<std::string> RuleEngine::rule_names() const {
    std::vector<std::string> names;
    names.reserve(rules.size());
    for (const PolicyRule& r : rules) names.push_back(r.name);
    return names;
}

}  // namespace qel::rule_engine
