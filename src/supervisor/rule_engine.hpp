// Supervisory rules: in these regimes, when these metrics pass these
// thresholds, propose these knob changes, at most so often and so many times.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "supervisor/condition.hpp"
#include "types/error.hpp"

namespace qel::rule_engine {

using condition::CompareOp;
using condition::Condition;
using condition::MetricMap;

enum class RuleLogic : std::uint8_t { And = 0, Or = 1 };

struct CompoundCondition {
    std::vector<Condition> conditions;
    RuleLogic logic = RuleLogic::And;
};

// Simple (one condition) or Compound.
using RuleCondition = std::variant<Condition, CompoundCondition>;

struct RuleAction {
    std::string knob;  // free text, returned as given
    std::string scope;
    double value = 0.0;
    double ttl_s = 0.0;
};

struct PolicyRule {
    std::string name;                  // shared names share one firing record
    std::vector<std::string> regimes;  // upper case
    std::vector<RuleAction> actions;
    RuleCondition condition;
    double cooldown_s = 0.0;      // 0: none
    std::uint32_t max_fires = 0;  // 0: unlimited
};

// A rule as the caller describes it, before its texts are parsed.
struct RuleText {
    struct ConditionText {
        std::string metric;
        std::string op;
        double threshold = 0.0;
    };
    std::string name;
    std::vector<std::string> regimes;
    std::vector<ConditionText> conditions;
    std::string logic;
    std::vector<RuleAction> actions;
    double cooldown_s = 0.0;
    std::uint32_t max_fires = 0;
};

struct FiredAction {
    std::string knob;
    std::string scope;
    std::string rule_name;
    double value = 0.0;
    double ttl_s = 0.0;
};

// Parses the operator and logic texts and upper-cases the regimes; the
// first bad text of the first bad rule decides the message.
Result<std::vector<PolicyRule>, PlainError> build_rules(std::vector<RuleText> texts);

struct RuleEngine {
    // Firing record of one rule name: both entries are written together.
    struct Record {
        std::uint32_t count = 0;
        double last_fire_time = 0.0;
    };

    std::vector<PolicyRule> rules;
    std::unordered_map<std::string, Record> records;
    double clock = 0.0;

    // Validates the rules in order; the first failing check decides.
    static Result<RuleEngine, PlainError> create(std::vector<PolicyRule> rules);

    std::vector<FiredAction> evaluate(std::string_view regime, const MetricMap& metrics);
    // Metric map from layer R values and good/bad layer lists, then evaluate.
    std::vector<FiredAction> evaluate_state(std::string_view regime, std::span<const double> layer_rs,
                                            std::span<const std::uint64_t> good_layers,
                                            std::span<const std::uint64_t> bad_layers, MetricMap extra);

    // Finite and not negative (-0.0 included) moves the clock; anything else is ignored.
    void advance_clock(double dt);
    void reset();

    std::uint32_t fire_count(std::string_view name) const;
    std::optional<double> last_fire_time(std::string_view name) const;
    std::vector<std::string> rule_names() const;
};

// The metric map that evaluate_state evaluates against.
MetricMap state_metrics(std::span<const double> layer_rs, std::span<const std::uint64_t> good_layers,
                        std::span<const std::uint64_t> bad_layers, MetricMap extra);

}  // namespace qel::rule_engine
