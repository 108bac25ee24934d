// Phase quality: the grading of symbolic transitions, and the scorer that
// weighs, judges and masks a set of channel qualities in [0, 1].
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::quality {

// 0.2 for a repeated state, 1.0 for a move to an adjacent index, otherwise
// max(1 - (step - 1) / n, 0.1) (0.1 when n = 0).
double transition_quality(std::uint64_t step_size, std::uint64_t n_states);

// The one check on initial_quality: it must be finite.
std::optional<PlainError> check_initial_quality(double initial_quality);
// out[0] = initial_quality (as given), out[i] = transition_quality(|s_i - s_(i-1)|, n).
// out has s's length.
void transition_qualities(std::span<const std::int64_t> s, std::uint64_t n_states, double initial_quality,
                          std::span<double> out);

// Thresholds are fixed at construction and never validated: a NaN or
// infinite threshold turns the judgements that use it into neutral answers.
class PhaseQualityScorer {
public:
    PhaseQualityScorer(double collapse_threshold, double min_quality)
        : collapse_threshold_(collapse_threshold), min_quality_(min_quality) {}

    // Amplitude-weighted mean of the clamped qualities over the pairs where
    // both are finite (weights at least 1e-12); 0.0 when nothing is kept.
    double score(std::span<const double> qualities, std::span<const double> amplitudes) const;
    // Strictly more than half the qualities below the threshold or non-finite.
    bool is_collapsed(std::span<const double> qualities) const;
    // The clamped quality where it is finite and at least min_quality, else 0.0.
    std::vector<double> downweight_mask(std::span<const double> qualities) const;

private:
    double collapse_threshold_;
    double min_quality_;
};

}  // namespace qel::quality
