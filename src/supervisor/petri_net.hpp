// A Petri net of named places and guarded transitions. The net never changes
// after construction and keeps no marking: every call takes one and returns a
// new one.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "supervisor/condition.hpp"
#include "types/error.hpp"

namespace qel::petri_net {

using condition::CompareOp;
using condition::MetricMap;

// "metric op threshold": one comparison of a named metric with a finite
// threshold.
struct Guard {
    std::string metric;
    double threshold = 0.0;
    CompareOp op = CompareOp::Gt;

    static Result<Guard, PlainError> parse(std::string_view text);
    // False for a missing or non-finite metric value, or a non-finite threshold.
    bool evaluate(const MetricMap& ctx) const;
};

struct Arc {
    std::string place;
    std::uint32_t weight = 1;
};

struct Transition {
    std::string name;
    std::vector<Arc> inputs;
    std::vector<Arc> outputs;
    std::optional<Guard> guard;
};

// Token counts by place name; a place without an entry holds 0 and no entry
// holds 0. Keys need not be places of the net.
class Marking {
public:
    void set(const std::string& place, std::uint32_t count);
    std::uint32_t get(const std::string& place) const;
    const std::unordered_map<std::string, std::uint32_t>& entries() const { return counts_; }

private:
    std::unordered_map<std::string, std::uint32_t> counts_;
};

struct PetriNet {
    std::vector<std::string> places;      // declaration order; repeats allowed
    std::vector<Transition> transitions;  // declaration order is the priority order

    static Result<PetriNet, PlainError> create(std::vector<std::string> places, std::vector<Transition> transitions);

    bool is_enabled(const Transition& t, const Marking& m, const MetricMap& ctx) const;
    // Indices of the enabled transitions, ascending.
    std::vector<std::size_t> enabled(const Marking& m, const MetricMap& ctx) const;
    // Fires the first enabled transition on a copy of m: inputs floor at 0,
    // outputs cap at the largest count. The index is absent when none fired.
    std::pair<Marking, std::optional<std::size_t>> step(const Marking& m, const MetricMap& ctx) const;
    // (place, count) for every declared place with tokens, in declaration order.
    std::vector<std::pair<std::string_view, std::uint32_t>> declared_counts(const Marking& m) const;
};

}  // namespace qel::petri_net
