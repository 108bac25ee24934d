#include "engine/imprint.hpp"

#include <cmath>

#include "engine/util/checked.hpp"
#include "types/format.hpp"

namespace qel::imprint {

namespace {

// The matrix length check of both modulations. An n whose square overflows
// can never match a real length, and is reported with its true square.
Status check_square(std::size_t n, std::size_t len) {
    auto nn = checked_mul(n, n);
    if (nn && *nn == len) return {};
    return QelError::invalid_dimension(text::cat("expected ", text::product(n, n), "=", n, "*", n, ", got ", len));
}

}  // namespace

QelResult<ImprintModel> ImprintModel::create(std::uint64_t n, double decay_rate, double saturation) {
    if (n == 0) return QelError::invalid_config("n must be > 0");
    if (!std::isfinite(decay_rate) || decay_rate < 0.0)
        return QelError::invalid_config(text::cat("decay_rate must be finite and non-negative, got ", decay_rate));
    if (!std::isfinite(saturation) || !(saturation > 0.0))
        return QelError::invalid_config(text::cat("saturation must be finite and positive, got ", saturation));
    ImprintModel model;
    model.m.assign(n, 0.0);
    model.decay_rate = decay_rate;
    model.saturation = saturation;
    return model;
}

void ImprintModel::update(std::span<const double> exposure, double dt) {
    if (exposure.size() != m.size()) return;
    if (!std::isfinite(dt) || dt < 0.0) return;
    for (double e : exposure)
        if (!std::isfinite(e)) return;
    const double f = std::exp(dt * (-decay_rate));
    for (std::size_t i = 0; i < m.size(); ++i) {
        double v = exposure[i] * dt + m[i] * f;
        // max(v, 0) then min(., saturation), a NaN falling to 0.
        if (!(v >= 0.0)) v = 0.0;
        if (v > saturation) v = saturation;
        m[i] = v;
    }
}

void ImprintModel::reset() {
    for (double& v : m) v = 0.0;
}

QelResult<std::vector<double>> ImprintModel::modulate_coupling(std::span<const double> knm) const {
    const std::size_t n = m.size();
    if (auto s = check_square(n, knm.size()); !s) return std::move(s).error();
    std::vector<double> out(knm.size());
    for (std::size_t i = 0; i < n; ++i) {
        const double g = m[i] + 1.0;
        for (std::size_t j = 0; j < n; ++j) out[i * n + j] = knm[i * n + j] * g;
    }
    return out;
}

QelResult<std::vector<double>> ImprintModel::modulate_lag(std::span<const double> alpha) const {
    const std::size_t n = m.size();
    if (auto s = check_square(n, alpha.size()); !s) return std::move(s).error();
    std::vector<double> out(alpha.size());
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) out[i * n + j] = alpha[i * n + j] + (m[i] - m[j]);
    return out;
}

}  // namespace qel::imprint
