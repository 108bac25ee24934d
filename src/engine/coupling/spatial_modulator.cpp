#include "engine/coupling/spatial_modulator.hpp"

#include "engine/util/checked.hpp"
#include "engine/util/finite.hpp"
#include "types/format.hpp"

namespace qel::coupling::spatial_modulator {

namespace {
bool finite_positive(double v) { return std::isfinite(v) && v > 0.0; }
}  // namespace

QelResult<std::vector<double>> spatial_modulate_flat(std::span<const double> knm, std::span<const double> positions,
                                                     std::uint64_t n, std::uint64_t dim, std::int32_t code,
                                                     double k_base, double decay_exponent, double decay_length_scale,
                                                     double epsilon) {
    if (code < 0 || code > 3) return QelError::invalid_config(text::cat("unknown spatial decay form code ", code));
    if (n == 0 || dim == 0) return QelError::invalid_dimension("n and dim must be positive");
    auto nn = checked_mul(n, n);
    if (!nn) return QelError::invalid_dimension("n*n overflows usize");
    auto nd = checked_mul(n, dim);
    if (!nd) return QelError::invalid_dimension("n*dim overflows usize");
    if (knm.size() != *nn || positions.size() != *nd)
        return QelError::invalid_dimension(text::cat("expected knm=", *nn, ", positions=", *nd,
                                                     "; got knm=", knm.size(), ", positions=", positions.size()));
    if (!all_finite_serial(knm) || !all_finite_serial(positions))
        return QelError::integration_diverged("spatial modulator inputs contain NaN/Inf");
    for (std::uint64_t i = 0; i < n; ++i)
        if (std::fabs(knm[i * n + i]) > 1e-12) return QelError::invalid_config("knm diagonal must be zero");
    if (!std::isfinite(k_base) || k_base < 0.0)
        return QelError::invalid_config("k_base must be finite and non-negative");
    if (!finite_positive(decay_exponent)) return QelError::invalid_config("decay_exponent must be finite and positive");
    if (!finite_positive(decay_length_scale))
        return QelError::invalid_config("decay_length_scale must be finite and positive");
    if (!finite_positive(epsilon)) return QelError::invalid_config("epsilon must be finite and positive");

    std::vector<double> out(*nn);
    const double* pos = positions.data();
    auto distance = [&](std::size_t i, std::size_t j) {
        double s = 0.0;
        for (std::size_t t = 0; t < dim; ++t) {
            double diff = pos[i * dim + t] - pos[j * dim + t];
            s += diff * diff;
        }
        return std::sqrt(s);
    };
    const double k = k_base, p = decay_exponent, len = decay_length_scale, eps = epsilon;
    auto run = [&](auto form) {
        return fill_weighted(n, knm, out, [&](std::size_t i, std::size_t j, double& w) {
            w = form(distance(i, j));
            return std::isfinite(w);
        });
    };
    bool ok = false;
    switch (code) {
        case 0: ok = run([&](double d) { return reciprocal_weight(d, k); }); break;
        case 1: ok = run([&](double d) { return exponential_weight(d, k, len); }); break;
        case 2: ok = run([&](double d) { return std::pow((d / len) + 1.0, -p) * k; }); break;
        default: ok = run([&](double d) { return soft_weight(d, k, eps); }); break;
    }
    if (!ok) return QelError::integration_diverged("spatial modulation weight diverged");
    return out;
}

Status spatial_modulate_axial(std::span<const double> positions, std::span<const double> knm, std::span<double> out,
                              std::size_t n, double k, std::uint8_t code, double p, double length, double eps) {
    auto nn = checked_mul(n, n);
    if (positions.size() != n || !nn || knm.size() != *nn || out.size() != *nn)
        return QelError::invalid_dimension("malformed spatial modulation inputs");
    if (!all_finite_serial(positions) || !all_finite_serial(knm))
        return QelError::integration_diverged("spatial modulation inputs contain NaN/Inf");

    const double* x = positions.data();
    auto run = [&](auto form) {
        fill_weighted(n, knm, out, [&](std::size_t i, std::size_t j, double& w) {
            w = form(x[i] - x[j]);
            return true;
        });
    };
    // |x_i - x_j| and (x_i - x_j)^2 do not depend on the order of i and j.
    switch (code) {
        case 1: run([&](double d) { return exponential_weight(std::fabs(d), k, length); }); break;
        case 2: run([&](double d) { return k / std::pow(std::fabs(d) / length + 1.0, p); }); break;
        case 3: run([&](double d) { return soft_weight(d, k, eps); }); break;
        default: run([&](double d) { return reciprocal_weight(std::fabs(d), k); }); break;
    }
    return {};
}

}  // namespace qel::coupling::spatial_modulator
