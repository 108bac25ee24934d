#include "engine/plasticity.hpp"

#include <cmath>

#include "engine/util/checked.hpp"
#include "engine/util/finite.hpp"

namespace qel::plasticity {

namespace {

// K f + ((s_j s_i + c_j c_i) g) dt, floored at +0.0; NaN becomes 0.0.
inline double learn(double k, double f, double g, double dt, double si, double ci, double sj, double cj) {
    double v = k * f + ((sj * si + cj * ci) * g) * dt;
    return v > 0.0 ? v : 0.0;
}

// dt finite and not below 0 (-0.0 passes), modulator finite.
bool usable_rates(double dt, double modulator) { return std::isfinite(dt) && !(dt < 0.0) && std::isfinite(modulator); }

}  // namespace

void PlasticityModel::update(std::span<const double> sin_theta, std::span<const double> cos_theta,
                             std::span<double> knm, double lr, double decay, double modulator, double dt) {
    const std::size_t n = sin_theta.size();
    auto nn = checked_mul(n, n);
    if (!nn || knm.size() != *nn) return;
    if (cos_theta.size() != n || !usable_rates(dt, modulator)) return;
    if (!all_finite(sin_theta) || !all_finite(cos_theta) || !all_finite(knm)) return;

    const double f = std::exp(-decay * dt);
    const double g = modulator * lr;
    for (std::size_t i = 0; i < n; ++i) {
        const double si = sin_theta[i], ci = cos_theta[i];
        double* row = knm.data() + i * n;
        for (std::size_t j = 0; j < n; ++j) row[j] = learn(row[j], f, g, dt, si, ci, sin_theta[j], cos_theta[j]);
        row[i] = 0.0;
    }
}

void PlasticityModel::update_sparse(std::span<const double> sin_theta, std::span<const double> cos_theta,
                                    std::span<const std::size_t> row_ptr, std::span<const std::size_t> col_indices,
                                    std::span<double> values, double lr, double decay, double modulator, double dt) {
    const std::size_t n = sin_theta.size();
    if (cos_theta.size() != n) return;
    if (row_ptr.size() != n + 1 || values.size() != col_indices.size()) return;
    if (row_ptr[0] != 0 || row_ptr[n] != col_indices.size()) return;
    for (std::size_t i = 1; i <= n; ++i)
        if (row_ptr[i] < row_ptr[i - 1]) return;
    for (std::size_t j : col_indices)
        if (j >= n) return;
    if (!usable_rates(dt, modulator)) return;
    // The sparse stepper keeps off the worker pool.
    if (!all_finite_serial(sin_theta) || !all_finite_serial(cos_theta) || !all_finite_serial(values)) return;

    const double f = std::exp(-decay * dt);
    const double g = modulator * lr;
    for (std::size_t i = 0; i < n; ++i) {
        const double si = sin_theta[i], ci = cos_theta[i];
        for (std::size_t k = row_ptr[i]; k < row_ptr[i + 1]; ++k) {
            std::size_t j = col_indices[k];
            values[k] = j == i ? 0.0 : learn(values[k], f, g, dt, si, ci, sin_theta[j], cos_theta[j]);
        }
    }
}

Status PlasticitySetting::set(double lr, double decay, double modulator_) {
    auto usable = [](double v) { return std::isfinite(v) && !(v < 0.0); };
    if (!usable(lr) || !usable(decay)) return QelError::invalid_config("lr and decay must be finite and non-negative");
    model = PlasticityModel{lr, decay};
    modulator = modulator_;
    return {};
}

}  // namespace qel::plasticity
