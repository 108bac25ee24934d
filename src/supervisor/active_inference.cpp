#include "supervisor/active_inference.hpp"

#include <cmath>
#include <numbers>

#include "engine/order_params.hpp"
#include "engine/util/minmax.hpp"
#include "engine/util/wrap.hpp"

namespace qel::active_inference {

namespace {

// min(5, max(0, x)) with NaN carried through, so a NaN target or observation
// shows in the gain instead of being clamped away.
double clamp_gain(double x) { return nan_min(5.0, nan_max(0.0, x)); }

}  // namespace

QelResult<ActiveInferenceAgent> ActiveInferenceAgent::create(std::uint64_t n_hidden, double target_r, double lr) {
    if (n_hidden == 0) return QelError::invalid_config("n_hidden > 0");
    if (!std::isfinite(target_r) || target_r < 0.0 || target_r > 1.0)
        return QelError::invalid_config("target_r must be finite and in [0, 1]");
    if (!std::isfinite(lr) || !(lr > 0.0)) return QelError::invalid_config("lr must be finite and > 0");
    return ActiveInferenceAgent{n_hidden, target_r, lr};
}

std::pair<double, double> ActiveInferenceAgent::control(std::span<const double> phases) const {
    if (phases.empty()) return {0.0, 0.0};
    for (double x : phases)
        if (!std::isfinite(x)) return {0.0, 0.0};
    order_params::Accumulator acc;
    for (double x : phases) acc.add(x);
    order_params::OrderParameter op = acc.finish();
    double e = target_r - op.r;
    double gain = clamp_gain(10.0 * e);
    double psi = e > 0.0 ? wrap_phase(op.psi + std::numbers::pi) : op.psi;
    return {gain, psi};
}

std::pair<double, double> ActiveInferenceAgent::control_observed(std::optional<double> r_obs,
                                                                 std::optional<double> psi_obs) const {
    double r = r_obs ? *r_obs : target_r;
    double p = psi_obs ? *psi_obs : 0.0;
    double d = r - target_r;
    double gain = clamp_gain(10.0 * lr * std::fabs(d));
    double psi = d > 0.0 ? wrap_phase(p + std::numbers::pi) : p;
    return {gain, psi};
}

}  // namespace qel::active_inference
