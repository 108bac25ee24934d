#include "engine/entropy_prod.hpp"

#include <cmath>

#include "engine/util/checked.hpp"

namespace qel::entropy_prod {

double entropy_production_rate(std::span<const double> phases, std::span<const double> omegas,
                               std::span<const double> knm, double alpha, double dt) {
    const std::size_t n = phases.size();
    const auto nn = checked_mul(n, n);
    // A NaN dt is not <= 0 and goes on to give NaN.
    if (dt <= 0.0 || n == 0 || omegas.size() != n || !nn || knm.size() != *nn) return 0.0;
    const double a = alpha / static_cast<double>(n);
    double total = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double ti = phases[i];
        const double* k = knm.data() + i * n;
        double s = 0.0;
        for (std::size_t j = 0; j < n; ++j) s += std::sin(phases[j] - ti) * k[j];
        const double v = s * a + omegas[i];
        total += v * v;
    }
    return dt * total;
}

}  // namespace qel::entropy_prod
