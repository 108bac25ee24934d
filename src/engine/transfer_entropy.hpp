// Phase transfer entropy: directed information flow between phase series,
// by counting on n_bins equal bins of the circle with a history of one step.
// Entropies in nats.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::transfer_entropy {

// H(target | condition) in nats from paired codes (the condition read at the
// target's indices); conditions at or beyond n_cond are skipped, conditions
// seen fewer than twice contribute nothing. Counts are exact whatever
// n_cond is: memory stays O(len(target)).
double conditional_entropy(std::span<const std::uint64_t> target, std::span<const std::uint64_t> condition,
                           std::uint64_t n_cond);

// Transfer entropy from source to target over the shorter length; 0.0 when
// n_bins == 0 or fewer than 3 samples; never negative.
double phase_transfer_entropy(std::span<const double> source, std::span<const double> target, std::uint64_t n_bins);

// Entry i*n_osc + j: transfer entropy from oscillator i to oscillator j, from
// the oscillator-major series (oscillator i at i*n_time .. (i+1)*n_time - 1);
// diagonal 0.0. Errors: "phase_series length {} != N*T={}", and "capacity
// overflow" (internal) when the n_osc * n_osc result cannot be addressed.
Result<std::vector<double>, PlainError> transfer_entropy_matrix(std::span<const double> phase_series,
                                                                std::uint64_t n_osc, std::uint64_t n_time,
                                                                std::uint64_t n_bins);

}  // namespace qel::transfer_entropy
