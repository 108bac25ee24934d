#include "engine/prior.hpp"

#include <cmath>
#include <vector>

namespace qel::prior {

void detail::fill_distance_decay(std::size_t n, double k_base, double decay_alpha, std::span<double> knm) {
    // The coupling depends on the distance alone: one exp per distance.
    std::vector<double> by_distance(n);
    for (std::size_t d = 1; d < n; ++d) by_distance[d] = std::exp(static_cast<double>(d) * (-decay_alpha)) * k_base;
    for (std::size_t i = 0; i < n; ++i) {
        double* row = knm.data() + i * n;
        for (std::size_t j = 0; j < n; ++j) row[j] = by_distance[i > j ? i - j : j - i];  // by_distance[0] is 0
    }
}

double prior_log_probability(double k_base, double decay_alpha, double k_mean, double k_std, double alpha_mean,
                             double alpha_std) {
    const double z_k = (k_base - k_mean) / k_std;
    const double z_alpha = (decay_alpha - alpha_mean) / alpha_std;
    return (-0.5 * (z_k * z_k)) - (0.5 * (z_alpha * z_alpha));
}

}  // namespace qel::prior
