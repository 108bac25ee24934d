// How far a model run has drifted from the observed system: the
// Jensen-Shannon divergence of the two phase histograms and the
// Wasserstein-1 distance between two samples of a scalar series.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::twin_confidence {

// One occupied bin of a phase histogram and its share of the phases.
struct BinShare {
    std::uint64_t bin;
    double p;
};

// Phases wrapped by x - floor(x/2pi)*2pi into n_bins equal bins from 0;
// beyond the last bin counts as the last, NaN and infinities as bin 0. Only
// occupied bins are listed, ascending, so a histogram never holds more
// entries than phases (none for no phases or n_bins == 0).
Result<std::vector<BinShare>, PlainError> phase_histogram(std::span<const double> phases, std::uint64_t n_bins);

// Jensen-Shannon divergence in nats, in [0, ln 2], of two histograms.
double js_divergence(std::span<const BinShare> p, std::span<const BinShare> q);

// Mean |a_k - b_k| over the two samples sorted by the IEEE total order;
// equal lengths, at least one value each.
double w1_distance(std::span<const double> a, std::span<const double> b);

// [js_phase, w1_order] after the checks on n, w and n_bins.
Result<std::array<double, 2>, PlainError> twin_divergence(std::span<const double> model_phases,
                                                          std::span<const double> observed_phases,
                                                          std::span<const double> model_order,
                                                          std::span<const double> observed_order, std::size_t n,
                                                          std::size_t w, std::uint64_t n_bins);

}  // namespace qel::twin_confidence
