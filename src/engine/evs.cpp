#include "engine/evs.hpp"

#include <cmath>
#include <limits>
#include <vector>

#include "engine/itpc.hpp"
#include "engine/util/internal_errors.hpp"

namespace qel::evs {

Result<double, PlainError> frequency_specificity(std::span<const double> phases, std::size_t n_trials,
                                                 std::size_t n_timepoints, double target_freq, double control_freq) {
    const std::size_t T = n_timepoints;
    if (T == 0 || n_trials == 0 || target_freq <= 0.0 || control_freq <= 0.0) return 0.0;
    if (auto ok = itpc::check_matrix(phases.size(), n_trials, T); !ok) return std::move(ok).error();
    const double inv = 1.0 / static_cast<double>(n_trials);
    std::vector<double> c(T), s(T);
    // Here the root of the summed phasor is taken first and then scaled,
    // which rounds differently from the ITPC course.
    auto mean_coherence = [&](auto phase, double& out) {
        if (!itpc::phasor_sums(phases, n_trials, T, phase, c, s)) return false;
        double total = 0.0;
        for (std::size_t t = 0; t < T; ++t) total += std::sqrt(c[t] * c[t] + s[t] * s[t]) * inv;
        out = total / static_cast<double>(T);
        return true;
    };
    double a = 0.0, b = 0.0;
    if (!mean_coherence([](double p) { return p; }, a)) return interrupted_error();
    const double ratio = control_freq / target_freq;
    if (!mean_coherence([ratio](double p) { return p * ratio; }, b)) return interrupted_error();
    if (b < 1e-12) return a > 0.0 ? std::numeric_limits<double>::infinity() : 0.0;
    return a / b;
}

}  // namespace qel::evs
