#include "engine/lags.hpp"

#include <cmath>

#include "engine/util/checked.hpp"
#include "engine/util/wrap.hpp"
#include "types/format.hpp"

namespace qel::lags {

namespace {
constexpr const char* kOverflow = "n*n overflows usize for lag matrix";
constexpr double kSymmetryTol = 1e-12;
}  // namespace

QelResult<LagModel> LagModel::zeros(std::uint64_t n) {
    auto nn = checked_mul(n, n);
    if (!nn) return QelError::invalid_dimension(kOverflow);
    LagModel model;
    model.alpha.assign(*nn, 0.0);
    model.n = n;
    return model;
}

QelResult<LagModel> LagModel::estimate_from_distances(std::span<const double> d, std::uint64_t n, double speed) {
    auto nn = checked_mul(n, n);
    if (!nn) return QelError::invalid_dimension(kOverflow);
    if (d.size() != *nn)
        return QelError::invalid_dimension(text::cat("expected ", *nn, "=", n, "*", n, ", got ", d.size()));
    if (!std::isfinite(speed) || !(speed > 0.0))
        return QelError::integration_diverged("speed must be positive and finite");
    for (double v : d) {
        if (!std::isfinite(v)) return QelError::integration_diverged("distances contain NaN/Inf");
        if (v < 0.0) return QelError::integration_diverged("distances must be non-negative");
    }
    for (std::uint64_t i = 0; i < n; ++i) {
        if (std::fabs(d[i * n + i]) > kSymmetryTol)
            return QelError::integration_diverged("distances must have a zero diagonal");
        for (std::uint64_t j = i + 1; j < n; ++j)
            if (std::fabs(d[i * n + j] - d[j * n + i]) > kSymmetryTol)
                return QelError::integration_diverged("distances must be symmetric physical pair distances");
    }
    LagModel model;
    model.alpha.assign(*nn, 0.0);
    model.n = n;
    for (std::uint64_t i = 0; i < n; ++i)
        for (std::uint64_t j = i + 1; j < n; ++j) {
            double a = (d[i * n + j] * kTwoPi) / speed;
            model.alpha[i * n + j] = a;
            model.alpha[j * n + i] = -a;
        }
    return model;
}

}  // namespace qel::lags
