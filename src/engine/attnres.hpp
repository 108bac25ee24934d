// Attention-style modulation of a coupling matrix. Each oscillator's phase is
// expanded into Fourier features (cos m*theta, sin m*theta); caller-supplied
// query, key, value and output weights turn them into one attended
// representation per oscillator, where oscillator i attends only to the j it
// is coupled to (j != i, K_ij != 0, optionally |i - j| <= block_size). The
// cosine similarity S_ij of two representations, mapped into [0, 1], scales
// the coupling: M_ij = (S_ij * lambda + 1) * K_ij, returned symmetrised with
// a zero diagonal.
//
// Weight layouts: w_q, w_k, w_v are n_heads x D x d_head (entry
// h*D*d_head + r*d_head + c), w_o is D x D row-major, D = n_heads * d_head.
// d_head is inferred from len(w_q) = D^2; empty weights give D = 0.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::attnres {

// Validates the shapes and parameters (ValueError texts, first failing check
// wins), then returns the modulated n x n matrix; lambda == 0 returns knm as
// it is. Working memory is O(n * D) besides the result: attention weights are
// formed one (head, query) row at a time.
Result<std::vector<double>, PlainError> attnres_modulate(std::span<const double> knm, std::span<const double> theta,
                                                         std::span<const double> w_q, std::span<const double> w_k,
                                                         std::span<const double> w_v, std::span<const double> w_o,
                                                         std::size_t n, std::size_t n_heads, std::int64_t block_size,
                                                         double temperature, double lambda);

}  // namespace qel::attnres
