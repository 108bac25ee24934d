// The regime manager: classifies a network from its layer order parameters
// and hard boundary violations, and moves its regime under hysteresis, an
// escalation hold and a cooldown, logging every committed change.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "supervisor/boundaries.hpp"
#include "types/action.hpp"

namespace qel::regime {

// Escalation order: Nominal < Degraded < Recovery < Critical.
int severity(Regime r);

// NaN, infinite or negative hysteresis becomes 0.0; anything else is kept.
double sanitize_hysteresis(double h);

struct LogEntry {
    std::uint64_t step = 0;  // step_count at the commit
    Regime from = Regime::Nominal;
    Regime to = Regime::Nominal;
};

class RegimeManager {
public:
    static constexpr std::size_t kLogCapacity = 100;

    RegimeManager(double hysteresis, std::uint64_t cooldown_steps, std::uint64_t hysteresis_hold_steps);

    // The regime proposed now; changes nothing.
    Regime evaluate(const UPDEState& state, const boundaries::BoundaryState& boundary) const;
    // A request under hold and cooldown; returns the regime afterwards.
    Regime transition(Regime proposed);
    // Commits a different regime at once; returns the regime afterwards.
    Regime force_transition(Regime regime);

    Regime current() const { return current_; }
    std::uint64_t step_count() const { return step_count_; }
    std::size_t log_size() const { return log_len_; }
    // Entry i of the log, oldest first.
    const LogEntry& log_entry(std::size_t i) const { return log_[(log_start_ + i) % kLogCapacity]; }

private:
    Regime commit_transition(Regime next);

    // The last kLogCapacity commits, as a ring: no allocation per commit.
    std::array<LogEntry, kLogCapacity> log_{};
    std::size_t log_start_ = 0;
    std::size_t log_len_ = 0;
    double hysteresis_;
    std::uint64_t cooldown_steps_;
    std::uint64_t hysteresis_hold_steps_;     // 0 disables the hold
    std::uint64_t step_count_ = 0;            // transition requests of both kinds
    std::uint64_t last_transition_step_ = 0;  // 0: nothing committed yet
    std::uint64_t hold_counter_ = 0;
    Regime current_ = Regime::Nominal;
};

}  // namespace qel::regime
