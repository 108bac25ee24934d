#include "supervisor/condition.hpp"

#include <cmath>

namespace qel::condition {

std::optional<CompareOp> parse_op(std::string_view text) {
    if (text == ">") return CompareOp::Gt;
    if (text == ">=") return CompareOp::Ge;
    if (text == "<") return CompareOp::Lt;
    if (text == "<=") return CompareOp::Le;
    if (text == "==") return CompareOp::Eq;
    return std::nullopt;
}

bool Condition::evaluate(const MetricMap& metrics) const {
    if (metrics.empty()) return false;
    auto it = metrics.find(metric);
    if (it == metrics.end() || !std::isfinite(it->second)) return false;
    return compare(op, it->second, threshold);
}

}  // namespace qel::condition
