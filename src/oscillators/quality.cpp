#include "oscillators/quality.hpp"

#include <cmath>
#include <cstddef>

#include "oscillators/symbolic.hpp"

namespace qel::quality {

namespace {
double clamp01(double q) { return q < 0.0 ? 0.0 : (q > 1.0 ? 1.0 : q); }
}  // namespace

double transition_quality(std::uint64_t step_size, std::uint64_t n_states) {
    if (step_size == 0) return 0.2;
    if (step_size == 1) return 1.0;
    if (n_states == 0) return 0.1;
    const double q = 1.0 - (static_cast<double>(step_size) - 1.0) / static_cast<double>(n_states);
    return q > 0.1 ? q : 0.1;
}

std::optional<PlainError> check_initial_quality(double initial_quality) {
    if (std::isfinite(initial_quality)) return std::nullopt;
    return PlainError::value_error("initial_quality must be a finite float");
}

void transition_qualities(std::span<const std::int64_t> s, std::uint64_t n_states, double initial_quality,
                          std::span<double> out) {
    if (s.empty()) return;
    out[0] = initial_quality;
    for (std::size_t i = 1; i < s.size(); ++i)
        out[i] = transition_quality(symbolic::index_distance(s[i], s[i - 1]), n_states);
}

double PhaseQualityScorer::score(std::span<const double> qualities, std::span<const double> amplitudes) const {
    if (qualities.empty() || amplitudes.empty() || !std::isfinite(collapse_threshold_) || !std::isfinite(min_quality_))
        return 0.0;
    const std::size_t len = qualities.size() < amplitudes.size() ? qualities.size() : amplitudes.size();
    double num = 0.0, den = 0.0;
    for (std::size_t k = 0; k < len; ++k) {
        const double q = qualities[k], a = amplitudes[k];
        if (!std::isfinite(q) || !std::isfinite(a)) continue;
        const double w = a > 1e-12 ? a : 1e-12;
        num += clamp01(q) * w;
        den += w;
    }
    return den > 0.0 ? num / den : 0.0;
}

bool PhaseQualityScorer::is_collapsed(std::span<const double> qualities) const {
    if (!std::isfinite(collapse_threshold_) || qualities.empty()) return true;
    std::size_t poor = 0;
    for (double q : qualities) poor += !std::isfinite(q) || q < collapse_threshold_;
    return poor > qualities.size() / 2;
}

std::vector<double> PhaseQualityScorer::downweight_mask(std::span<const double> qualities) const {
    std::vector<double> out(qualities.size(), 0.0);
    if (!std::isfinite(min_quality_)) return out;
    for (std::size_t k = 0; k < qualities.size(); ++k) {
        const double q = qualities[k];
        if (std::isfinite(q) && q >= min_quality_) out[k] = clamp01(q);
    }
    return out;
}

}  // namespace qel::quality
