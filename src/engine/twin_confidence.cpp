#include "engine/twin_confidence.hpp"

#include <cmath>

#include "engine/util/code_count.hpp"
#include "engine/util/float_sort.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"
#include "engine/util/phase_bins.hpp"
#include "engine/util/saturate.hpp"
#include "engine/util/wrap.hpp"

namespace qel::twin_confidence {

namespace {

constexpr std::size_t kCheckEvery = std::size_t{1} << 20;

// Wrapped by x - floor(x / 2pi) * 2pi, not phase_bin's two remainders: this divergence's own rounding.
std::uint64_t bin_of(double x, double width, std::uint64_t n_bins) {
    return bin_index(x - std::floor(x / kTwoPi) * kTwoPi, width, n_bins);
}

// Sum over the bins in ascending order where `share` is positive of
// share * ln(share / m), with m the mean of the two histograms.
double kl_to_mean(std::span<const BinShare> share, std::span<const BinShare> other) {
    double kl = 0.0;
    std::size_t j = 0;
    for (const BinShare& s : share) {
        while (j < other.size() && other[j].bin < s.bin) ++j;
        const double o = j < other.size() && other[j].bin == s.bin ? other[j].p : 0.0;
        if (s.p > 0.0) kl += s.p * std::log(s.p / ((s.p + o) * 0.5));
    }
    return kl;
}

}  // namespace

Result<std::vector<BinShare>, PlainError> phase_histogram(std::span<const double> phases, std::uint64_t n_bins) {
    std::vector<BinShare> hist;
    if (phases.empty() || n_bins == 0) return hist;
    const double width = kTwoPi / static_cast<double>(n_bins);
    std::vector<std::uint64_t> bins(phases.size());
    for (std::size_t i0 = 0; i0 < phases.size(); i0 += kCheckEvery) {
        if (i0 > 0 && interrupted()) return interrupted_error();
        const std::size_t i1 = phases.size() - i0 > kCheckEvery ? i0 + kCheckEvery : phases.size();
        for (std::size_t i = i0; i < i1; ++i) bins[i] = bin_of(phases[i], width, n_bins);
    }
    const auto cells = code_count::count<1>({std::span<const std::uint64_t>(bins)}, {n_bins});
    // Empty bins add nothing to the total.
    double total = 0.0;
    for (const auto& c : cells) total += static_cast<double>(c.count);
    hist.reserve(cells.size());
    for (const auto& c : cells) hist.push_back({c.key[0], static_cast<double>(c.count) / total});
    return hist;
}

double js_divergence(std::span<const BinShare> p, std::span<const BinShare> q) {
    return 0.5 * kl_to_mean(p, q) + 0.5 * kl_to_mean(q, p);
}

double w1_distance(std::span<const double> a, std::span<const double> b) {
    std::vector<double> sa(a.begin(), a.end()), sb(b.begin(), b.end());
    sort_total_order(sa);
    sort_total_order(sb);
    double s = 0.0;
    for (std::size_t k = 0; k < sa.size(); ++k) s += std::fabs(sa[k] - sb[k]);
    return s / static_cast<double>(sa.size());
}

Result<std::array<double, 2>, PlainError> twin_divergence(std::span<const double> model_phases,
                                                          std::span<const double> observed_phases,
                                                          std::span<const double> model_order,
                                                          std::span<const double> observed_order, std::size_t n,
                                                          std::size_t w, std::uint64_t n_bins) {
    if (model_phases.size() != n || observed_phases.size() != n)
        return PlainError::value_error("phase lengths must equal n");
    if (model_order.size() != w || observed_order.size() != w)
        return PlainError::value_error("order lengths must equal w");
    if (n == 0) return PlainError::value_error("model_phases must contain at least one phase");
    if (w == 0) return PlainError::value_error("model_order must contain at least one sample");
    if (n_bins == 0) return PlainError::value_error("n_bins must be a positive integer");
    auto p = phase_histogram(model_phases, n_bins);
    if (!p) return std::move(p).error();
    auto q = phase_histogram(observed_phases, n_bins);
    if (!q) return std::move(q).error();
    return std::array<double, 2>{js_divergence(p.value(), q.value()), w1_distance(model_order, observed_order)};
}

}  // namespace qel::twin_confidence
