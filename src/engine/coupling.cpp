#include "engine/coupling.hpp"

#include <cmath>

#include "engine/util/checked.hpp"
#include "types/format.hpp"

namespace qel::coupling {

QelResult<std::vector<double>> build_knm(std::uint64_t n, double base_strength, double decay_alpha) {
    if (n == 0) return QelError::invalid_dimension("n must be > 0");
    if (!std::isfinite(base_strength) || base_strength < 0.0)
        return QelError::invalid_config(
            text::cat("base_strength must be finite and non-negative, got ", base_strength));
    if (!std::isfinite(decay_alpha) || decay_alpha < 0.0)
        return QelError::invalid_config(text::cat("decay_alpha must be non-negative finite, got ", decay_alpha));
    auto nn = checked_mul(n, n);
    if (!nn) return QelError::invalid_dimension(text::cat("n*n overflows usize for coupling matrix (n=", n, ")"));

    std::vector<double> k(*nn, 0.0);
    // The weight depends only on |i - j|: one exp per distance, same bits as
    // one per pair.
    std::vector<double> by_distance(n, 0.0);
    for (std::uint64_t d = 1; d < n; ++d)
        by_distance[d] = std::exp(static_cast<double>(d) * (-decay_alpha)) * base_strength;
    for (std::uint64_t i = 0; i < n; ++i) {
        double* row = k.data() + i * n;
        for (std::uint64_t j = 0; j < i; ++j) row[j] = by_distance[i - j];
        for (std::uint64_t j = i + 1; j < n; ++j) row[j] = by_distance[j - i];
    }
    return k;
}

QelResult<std::vector<double>> project_knm(std::vector<double> k, std::uint64_t n) {
    auto nn = checked_mul(n, n);
    if (!nn) return QelError::invalid_dimension("n*n overflows usize for Knm");
    if (k.size() != *nn)
        return QelError::invalid_dimension(text::cat("expected ", *nn, "=", n, "*", n, ", got ", k.size()));
    for (double v : k)
        if (!std::isfinite(v)) return QelError::integration_diverged("Knm must contain only finite values");

    for (std::uint64_t i = 0; i < n; ++i) {
        for (std::uint64_t j = i + 1; j < n; ++j) {
            double a = k[i * n + j], b = k[j * n + i];
            double v = (a + b) * 0.5;
            // Two finite values near the largest double: halve before adding
            // rather than report an infinite mean of finite couplings.
            if (!std::isfinite(v)) v = a * 0.5 + b * 0.5;
            k[i * n + j] = v;
            k[j * n + i] = v;
        }
    }
    for (double& v : k)
        if (v < 0.0) v = 0.0;
    for (std::uint64_t i = 0; i < n; ++i) k[i * n + i] = 0.0;
    return k;
}

void reduce_coupling(std::span<const double> knm, double reduction_factor, std::span<double> out) {
    const double f = 1.0 - reduction_factor;
    for (std::size_t i = 0; i < knm.size(); ++i) out[i] = knm[i] * f;
}

}  // namespace qel::coupling
