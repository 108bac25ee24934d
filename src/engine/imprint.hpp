// A slowly built-up, slowly fading exposure trace per oscillator that scales
// incoming coupling and shifts phase lags.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::imprint {

struct ImprintModel {
    std::vector<double> m;  // always within [0, saturation]
    double decay_rate = 0.0;
    double saturation = 1.0;

    static QelResult<ImprintModel> create(std::uint64_t n, double decay_rate, double saturation);

    // Unusable input (wrong length, bad dt, non-finite exposure) is ignored.
    void update(std::span<const double> exposure, double dt);
    void reset();
    // knm[i*n + j] * (m[i] + 1)
    QelResult<std::vector<double>> modulate_coupling(std::span<const double> knm) const;
    // alpha[i*n + j] + (m[i] - m[j])
    QelResult<std::vector<double>> modulate_lag(std::span<const double> alpha) const;
};

}  // namespace qel::imprint
