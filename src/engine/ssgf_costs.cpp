#include "engine/ssgf_costs.hpp"

#include <cmath>

#include "engine/order_params.hpp"
#include "engine/spectral.hpp"
#include "engine/util/checked.hpp"
#include "engine/util/finite.hpp"
#include "types/format.hpp"

namespace qel::ssgf_costs {

namespace {

// Finite and not below zero: -0.0 passes, a negative subnormal does not.
bool usable_weight(double w) { return std::isfinite(w) && !(w < 0.0); }

}  // namespace

Result<Costs, PlainError> compute_ssgf_costs(std::span<const double> w, std::span<const double> phases, std::size_t n,
                                             const Weights& weights) {
    order_params::Accumulator acc;
    for (double p : phases) acc.add(p);
    const double r = acc.finish().r;

    auto lambda2 = spectral::fiedler_value(w, n);
    if (!lambda2) return std::move(lambda2).error();
    const double l2 = lambda2.value();

    Costs out;
    out.c1 = 1.0 - r;
    out.c2 = -l2;
    if (n > 0) {
        const std::size_t nn = n * n;
        double total = -0.0;
        for (std::size_t k = 0; k < nn; ++k) total += std::fabs(w[k]);
        out.c3 = total / static_cast<double>(nn);
        double sq = 0.0;
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = 0; j < n; ++j) {
                const double d = w[i * n + j] - w[j * n + i];
                sq += d * d;
            }
        out.c4 = std::sqrt(sq) / static_cast<double>(n);
    }
    out.u = ((weights.w1 * out.c1 - weights.w2 * l2) + weights.w3 * out.c3) + weights.w4 * out.c4;
    return out;
}

Result<Costs, PlainError> checked_ssgf_costs(std::span<const double> w, std::span<const double> phases, std::size_t n,
                                             const Weights& weights) {
    auto nn = checked_mul(n, n);
    if (!nn) return PlainError::value_error("n*n overflow in SSGF cost input");
    if (w.size() != *nn)
        return PlainError::value_error(text::cat("w_flat length ", w.size(), " does not match n*n=", *nn));
    if (phases.size() != n)
        return PlainError::value_error(text::cat("phases length ", phases.size(), " does not match n=", n));
    if (!all_finite_serial(w) || !all_finite_serial(phases))
        return PlainError::value_error("SSGF cost inputs must contain only finite values");
    for (double x : {weights.w1, weights.w2, weights.w3, weights.w4})
        if (!usable_weight(x)) return PlainError::value_error("SSGF weights must be finite non-negative values");
    return compute_ssgf_costs(w, phases, n, weights);
}

}  // namespace qel::ssgf_costs
