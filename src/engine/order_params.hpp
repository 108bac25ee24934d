// The Kuramoto order parameter: the one arithmetic behind every R, psi,
// phase-locking value and layer coherence.
#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/util/wrap.hpp"
#include "types/error.hpp"

namespace qel::order_params {

struct OrderParameter {
    double r = 0.0;
    double psi = 0.0;
};

// Running sums of cos and sin, added strictly left to right.
struct Accumulator {
    double sum_cos = 0.0;
    double sum_sin = 0.0;
    std::size_t m = 0;

    void add(double x) {
        sum_cos += std::cos(x);
        sum_sin += std::sin(x);
        ++m;
    }
    // A cosine and sine formed elsewhere (a stepper's caches).
    void add_cos_sin(double c, double s) {
        sum_cos += c;
        sum_sin += s;
        ++m;
    }
    // |mean vector| as it is, not capped at 1 (rounding may exceed it); 0.0
    // for no values.
    double magnitude() const {
        if (m == 0) return 0.0;
        double mf = static_cast<double>(m);
        double c = sum_cos / mf;
        double s = sum_sin / mf;
        return std::sqrt(c * c + s * s);
    }
    // R = min(1, |mean vector|), NaN kept; psi = atan2(S, C) wrapped.
    OrderParameter finish() const {
        if (m == 0) return {};
        double mf = static_cast<double>(m);
        double c = sum_cos / mf;
        double s = sum_sin / mf;
        double mag = std::sqrt(c * c + s * s);
        return {mag > 1.0 ? 1.0 : mag, wrap_phase(std::atan2(s, c))};
    }
};

OrderParameter order_parameter(std::span<const double> phases);
// R of a[k] - b[k]; InvalidDimension when the lengths differ.
QelResult<double> plv(std::span<const double> a, std::span<const double> b);
// R of phases[i] for each i in order, indices past the end skipped.
double layer_coherence(std::span<const double> phases, std::span<const std::uint64_t> indices);
// As layer_coherence; the first negative index is refused.
Result<double, PlainError> layer_coherence_signed(std::span<const double> phases,
                                                  std::span<const std::int64_t> indices);
// 2 synchronised, 1 intermediate (or unordered), 0 desynchronised.
void detect_regimes(std::span<const double> r, double sync_threshold, double desync_threshold,
                    std::span<std::int32_t> out);

}  // namespace qel::order_params
