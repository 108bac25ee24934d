#include "supervisor/regime.hpp"

#include <cmath>

namespace qel::regime {

namespace {
constexpr double kCriticalBelow = 0.3;
constexpr double kDegradedBelow = 0.6;
}  // namespace

int severity(Regime r) {
    switch (r) {
        case Regime::Nominal: return 0;
        case Regime::Degraded: return 1;
        case Regime::Recovery: return 2;
        case Regime::Critical: return 3;
    }
    return 0;
}

double sanitize_hysteresis(double h) { return std::isfinite(h) && !(h < 0.0) ? h : 0.0; }

RegimeManager::RegimeManager(double hysteresis, std::uint64_t cooldown_steps, std::uint64_t hysteresis_hold_steps)
    : hysteresis_(sanitize_hysteresis(hysteresis)),
      cooldown_steps_(cooldown_steps),
      hysteresis_hold_steps_(hysteresis_hold_steps) {}

Regime RegimeManager::evaluate(const UPDEState& state, const boundaries::BoundaryState& boundary) const {
    double r = 0.0;
    if (!state.layers.empty()) {
        for (const LayerState& l : state.layers) r += l.R;
        r /= static_cast<double>(state.layers.size());
    }
    if (r < kCriticalBelow || !boundary.hard_violations.empty() || !std::isfinite(r)) return Regime::Critical;
    // Leaving a degraded state needs the extra margin of the hysteresis.
    const bool below_back = r < kDegradedBelow + hysteresis_;
    if (current_ == Regime::Nominal || current_ == Regime::Degraded) {
        if (r < kDegradedBelow || (current_ == Regime::Degraded && below_back)) return Regime::Degraded;
        return Regime::Nominal;
    }
    // From Critical the way back to Nominal always passes through Recovery.
    if (r < kDegradedBelow || current_ == Regime::Critical || below_back) return Regime::Recovery;
    return Regime::Nominal;
}

Regime RegimeManager::transition(Regime proposed) {
    ++step_count_;
    if (proposed == current_) {
        hold_counter_ = 0;
        return current_;
    }
    const bool critical = proposed == Regime::Critical;
    const bool escalation = severity(proposed) > severity(current_);
    if (hysteresis_hold_steps_ > 0 && !critical && escalation) {
        ++hold_counter_;
        if (hold_counter_ < hysteresis_hold_steps_) return current_;
    } else {
        hold_counter_ = 0;
    }
    // A request stopped here keeps its passed hold for the next one.
    if (last_transition_step_ != 0 && !critical) {
        const std::uint64_t since = step_count_ > last_transition_step_ ? step_count_ - last_transition_step_ : 0;
        if (since < cooldown_steps_) return current_;
    }
    return commit_transition(proposed);
}

Regime RegimeManager::force_transition(Regime regime) {
    ++step_count_;
    if (regime != current_) commit_transition(regime);
    return current_;
}

Regime RegimeManager::commit_transition(Regime next) {
    const Regime old = current_;
    last_transition_step_ = step_count_;
    current_ = next;
    hold_counter_ = 0;
    if (log_len_ == kLogCapacity) {
        log_start_ = (log_start_ + 1) % kLogCapacity;
        --log_len_;
    }
    log_[(log_start_ + log_len_) % kLogCapacity] = {step_count_, old, next};
    ++log_len_;
    return next;
}

}  // namespace qel::regime
