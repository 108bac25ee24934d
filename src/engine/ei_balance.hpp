// Excitatory/inhibitory balance of a coupling matrix (flat row-major, entry
// r*n + c couples c into r, so row r is what oscillator r receives): the mean
// coupling in the rows of each population, their ratio and the four block
// means, and a copy with the inhibitory rows rescaled towards a target ratio.
//
// Index lists keep the caller's order; duplicates count as often as they
// occur, an index may stand in both lists, and indices >= n are skipped. The
// length of knm is not compared with n*n: extra entries are ignored, and a
// shorter array is refused (internal error) only when some valid index r has
// (r+1)*n > len(knm).
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::ei_balance {

struct EIBalance {
    double ratio = 1.0;  // +inf with no inhibition but positive excitation, 1.0 with neither
    double excitatory_strength = 0.0;
    double inhibitory_strength = 0.0;
    bool is_balanced = true;                                            // 0.8 <= ratio <= 1.2
    double mean_ee = 0.0, mean_ei = 0.0, mean_ie = 0.0, mean_ii = 0.0;  // rows, then columns
};

Result<EIBalance, PlainError> compute_ei_balance(std::span<const double> knm, std::size_t n,
                                                 std::span<const std::uint64_t> excitatory,
                                                 std::span<const std::uint64_t> inhibitory);

// As compute_ei_balance, from signed indices: negative entries are dropped.
Result<EIBalance, PlainError> compute_ei_balance_signed(std::span<const double> knm, std::size_t n,
                                                        std::span<const std::int64_t> excitatory,
                                                        std::span<const std::int64_t> inhibitory);

// A copy of knm whose inhibitory rows are multiplied by ratio / target_ratio
// (once per listing); unchanged when either strength is below 1e-15 in
// magnitude or the ratio is within 1e-10 of the target.
Result<std::vector<double>, PlainError> adjust_ei_ratio(std::span<const double> knm, std::size_t n,
                                                        std::span<const std::int64_t> excitatory,
                                                        std::span<const std::int64_t> inhibitory, double target_ratio);

}  // namespace qel::ei_balance
