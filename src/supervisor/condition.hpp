// Comparison of a named metric with a threshold: the one operator table of
// the supervisor, shared by the rule engine and the Petri-net guards.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace qel::condition {

enum class CompareOp : std::uint8_t { Gt = 0, Ge = 1, Lt = 2, Le = 3, Eq = 4 };

// Absolute tolerance of Eq: |v - t| must be strictly below it.
inline constexpr double kEqTolerance = 1e-12;

// ">", ">=", "<", "<=", "==", byte for byte; anything else is no operator.
std::optional<CompareOp> parse_op(std::string_view text);

// The operator test of v against t. NaN compares false for every operator.
inline bool compare(CompareOp op, double v, double t) {
    switch (op) {
        case CompareOp::Gt: return v > t;
        case CompareOp::Ge: return v >= t;
        case CompareOp::Lt: return v < t;
        case CompareOp::Le: return v <= t;
        case CompareOp::Eq: {
            double d = v - t;
            return (d < 0.0 ? -d : d) < kEqTolerance;
        }
    }
    return false;
}

using MetricMap = std::unordered_map<std::string, double>;

struct Condition {
    std::string metric;
    double threshold = 0.0;
    CompareOp op = CompareOp::Gt;

    // False when the metric is absent, NaN or infinite; the threshold is
    // taken as it is.
    bool evaluate(const MetricMap& metrics) const;
};

}  // namespace qel::condition
