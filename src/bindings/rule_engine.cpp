// PyRuleEngine.
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bindings/frame.hpp"
#include "supervisor/rule_engine.hpp"

namespace qel::py {
namespace {

namespace re = qel::rule_engine;

using ConditionTuple = std::tuple<std::string, std::string, double>;
using ActionTuple = std::tuple<std::string, std::string, double, double>;
using RuleTuple = std::tuple<std::string, std::vector<std::string>, std::vector<ConditionTuple>, std::string,
                             std::vector<ActionTuple>, double, std::uint32_t>;
using FiredTuple = std::tuple<std::string, std::string, double, double, std::string>;

std::vector<re::RuleText> rule_texts(std::vector<RuleTuple> rules) {
    std::vector<re::RuleText> out;
    out.reserve(rules.size());
    for (RuleTuple& t : rules) {
        re::RuleText r;
        r.name = std::move(std::get<0>(t));
        r.regimes = std::move(std::get<1>(t));
        r.conditions.reserve(std::get<2>(t).size());
        for (ConditionTuple& c : std::get<2>(t))
            r.conditions.push_back({std::move(std::get<0>(c)), std::move(std::get<1>(c)), std::get<2>(c)});
        r.logic = std::move(std::get<3>(t));
        r.actions.reserve(std::get<4>(t).size());
        for (ActionTuple& a : std::get<4>(t))
            r.actions.push_back({std::move(std::get<0>(a)), std::move(std::get<1>(a)), std::get<2>(a), std::get<3>(a)});
        r.cooldown_s = std::get<5>(t);
        r.max_fires = std::get<6>(t);
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<FiredTuple> fired_tuples(std::vector<re::FiredAction> fired) {
    std::vector<FiredTuple> out;
    out.reserve(fired.size());
    for (re::FiredAction& f : fired)
        out.emplace_back(std::move(f.knob), std::move(f.scope), f.value, f.ttl_s, std::move(f.rule_name));
    return out;
}

}  // namespace

QEL_BINDINGS(rule_engine) {
    m.cls<re::RuleEngine>("PyRuleEngine", "PyRuleEngine(rules)", "",
                          [](std::vector<RuleTuple> rules) -> Result<re::RuleEngine, PlainError> {
                              return and_then(re::build_rules(rule_texts(std::move(rules))),
                                              [](std::vector<re::PolicyRule> built) {
                                                  return re::RuleEngine::create(std::move(built));
                                              });
                          })
        .method("evaluate", "evaluate($self, regime, ctx)",
                "Evaluate rules. Returns list of (knob, scope, value, ttl_s, rule_name).",
                [](re::RuleEngine& e, std::string regime, re::MetricMap ctx) {
                    return fired_tuples(e.evaluate(regime, ctx));
                })
        .method("evaluate_state", "evaluate_state($self, regime, layer_rs, good_layers, bad_layers, extra=None)",
                "Evaluate rules against UPDE layer order parameters and partitions.",
                [](re::RuleEngine& e, std::string regime, std::vector<double> layer_rs,
                   std::vector<std::uint64_t> good_layers, std::vector<std::uint64_t> bad_layers,
                   std::optional<re::MetricMap> extra) {
                    return fired_tuples(e.evaluate_state(regime, layer_rs, good_layers, bad_layers,
                                                         extra ? std::move(*extra) : re::MetricMap{}));
                })
        .method("advance_clock", "advance_clock($self, dt)", "",
                [](re::RuleEngine& e, double dt) { e.advance_clock(dt); })
        .method("reset", "reset($self)", "", [](re::RuleEngine& e) { e.reset(); })
        .method("fire_count", "fire_count($self, rule_name)", "",
                [](const re::RuleEngine& e, std::string rule_name) { return e.fire_count(rule_name); })
        .method("last_fire_time", "last_fire_time($self, rule_name)", "",
                [](const re::RuleEngine& e, std::string rule_name) { return e.last_fire_time(rule_name); })
        .getter("clock", "", [](const re::RuleEngine& e) { return e.clock; })
        .getter("rule_names", "", [](const re::RuleEngine& e) { return e.rule_names(); })
        .getter("fire_counts", "",
                [](const re::RuleEngine& e) {
                    Dict d;
                    for (const auto& [name, rec] : e.records) d.set(name, rec.count);
                    return d;
                })
        .getter("last_fire_times", "", [](const re::RuleEngine& e) {
            Dict d;
            for (const auto& [name, rec] : e.records) d.set(name, rec.last_fire_time);
            return d;
        });
}

}  // namespace qel::py
