// Chimera detection: how coherent each oscillator's coupled neighbourhood is,
// and how much of the network is neither locked nor drifting.
#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::chimera {

// Above this local order an oscillator is coherent, below kIncoherent
// incoherent; both comparisons are strict.
inline constexpr double kCoherent = 0.7;
inline constexpr double kIncoherent = 0.3;

// |mean of exp(i(theta_j - theta_i))| over the j with knm[i*n + j] > 0 (the
// diagonal included), unclamped; 0.0 without such a j. Runs on the pool.
// A knm shorter than n*n, or a positive coupling that reaches beyond the end
// of phases, is an internal error.
Result<std::vector<double>, PlainError> local_order_parameter(std::span<const double> phases,
                                                              std::span<const double> knm, std::size_t n);

struct Chimera {
    std::vector<std::size_t> coherent;    // ascending
    std::vector<std::size_t> incoherent;  // ascending
    double chimera_index = 0.0;           // share in neither set
    std::vector<double> local_order;
};

Result<Chimera, PlainError> detect_chimera(std::span<const double> phases, std::span<const double> knm, std::size_t n);

}  // namespace qel::chimera
