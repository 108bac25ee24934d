// Partial information decomposition: the redundancy (minimum of specific
// information) and the synergy that the mean phases of two oscillator groups
// carry about the mean phase of the whole network, from binned series.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "types/error.hpp"

namespace qel::pid {

// phase_history: t steps of n phases, time-major; only t*n entries are read,
// and fewer is an internal error. Group entries outside 0 .. n-1 are
// dropped; duplicates weigh twice. (0.0, 0.0) when a group is empty or t, n
// or n_bins is 0. Both results are in nats and never negative. Memory grows
// with t and n, never with n_bins.
Result<std::pair<double, double>, PlainError> pid_decomposition(std::span<const double> phase_history, std::size_t t,
                                                                std::size_t n, std::span<const std::int64_t> group_a,
                                                                std::span<const std::int64_t> group_b,
                                                                std::size_t n_bins);

}  // namespace qel::pid
