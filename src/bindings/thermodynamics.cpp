// Statistical-mechanics readings of a network: Boltzmann weights, seeded
// Langevin noise, the entropy of a phase distribution and an effective
// temperature from a cost series. Small pure functions, kept beside their
// wrappers.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "bindings/frame.hpp"
#include "engine/util/code_count.hpp"
#include "engine/util/mmix_lcg.hpp"
#include "engine/util/phase_bins.hpp"
#include "engine/util/saturate.hpp"
#include "engine/util/shannon.hpp"
#include "engine/util/wrap.hpp"

namespace qel::py {
namespace {

double boltzmann_weight(double u_total, double temperature) {
    if (temperature <= 0.0) return u_total <= 0.0 ? 1.0 : 0.0;  // the zero-temperature step; NaN energy gives 0
    // A NaN temperature lands here. The clamp keeps the weight within about
    // 1e-304 .. 1e304 instead of 0 or inf; a NaN exponent stays NaN.
    double x = -u_total / temperature;
    if (x < -700.0) x = -700.0;
    if (x > 700.0) x = 700.0;
    return std::exp(x);
}

// z[2m] and z[2m+1] get the cosine and sine of one Box-Muller pair from two
// 53-bit draws; an odd length leaves the last sine unused.
void add_langevin_noise(std::span<double> z, double temperature, double dt, std::uint64_t seed) {
    if (temperature <= 0.0 || dt <= 0.0) return;
    const double sigma = std::sqrt((temperature + temperature) * dt);
    MmixLcg rng(seed);
    for (std::size_t k = 0; k < z.size(); k += 2) {
        const double u1 = rng.uniform53();
        const double u2 = rng.uniform53();
        const double r = std::sqrt(-2.0 * std::log(std::max(u1, 1e-30)));  // u1 = 0 keeps a finite log
        const double angle = kTwoPi * u2;
        z[k] += std::cos(angle) * r * sigma;
        if (k + 1 < z.size()) z[k + 1] += std::sin(angle) * r * sigma;
    }
}

// Shannon entropy in nats of the phases binned on [0, 2pi). Only the occupied
// bins are counted, so memory follows the phases, not n_bins.
double entropy_from_phases(std::span<const double> phases, std::uint64_t n_bins) {
    if (phases.empty() || n_bins == 0) return 0.0;
    std::vector<std::uint64_t> bins(phases.size());
    for (std::size_t k = 0; k < phases.size(); ++k) bins[k] = phase_bin(phases[k], n_bins);
    return shannon_sum(code_count::count<1>({std::span<const std::uint64_t>(bins)}, {n_bins}),
                       static_cast<double>(phases.size()), [](const auto& cell) { return cell.count; });
}

// Sample variance over twice the mean's magnitude; 0.0 for fewer than two
// costs or a mean too close to zero.
double effective_temperature(std::span<const double> costs) {
    const std::size_t n = costs.size();
    if (n < 2) return 0.0;
    double sum = 0.0;
    for (double c : costs) sum += c;
    const double mean = sum / static_cast<double>(n);
    if (std::abs(mean) < 1e-30) return 0.0;
    double sq = 0.0;
    for (double c : costs) sq += (c - mean) * (c - mean);
    const double var = sq / static_cast<double>(n - 1);
    return var / (std::abs(mean) + std::abs(mean));
}

}  // namespace

QEL_BINDINGS(thermodynamics) {
    m.function("boltzmann_weight_rust", "boltzmann_weight_rust(u_total, temperature)", "",
               [](double u_total, double temperature) { return boltzmann_weight(u_total, temperature); });
    m.function("add_langevin_noise_rust", "add_langevin_noise_rust(z, temperature, dt, seed)", "",
               [](F64Array z, double temperature, double dt, std::uint64_t seed) {
                   auto out = NewArray<double>::from(z.span());
                   add_langevin_noise(out.span(), temperature, dt, seed);
                   return out;
               });
    m.function("entropy_from_phases_rust", "entropy_from_phases_rust(phases, n_bins=36)", "",
               [](F64Array phases, std::uint64_t n_bins) { return entropy_from_phases(phases.span(), n_bins); });
    m.function("effective_temperature_rust", "effective_temperature_rust(costs)", "",
               [](F64Array costs) { return effective_temperature(costs.span()); });
}

}  // namespace qel::py
