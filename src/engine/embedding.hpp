// Time-delay embedding of a scalar signal, and the choice of its two
// parameters: the delay as the first local minimum of the lagged mutual
// information, the dimension by the false-nearest-neighbour test.
#pragma once
#include <cstddef>
#include <span>
#include <utility>
#include <vector>

#include "engine/util/internal_errors.hpp"
#include "types/error.hpp"

namespace qel::embedding {

// Rows of the embedding (T - (dimension - 1) * delay), or the message for a
// zero dimension, a zero delay or a signal too short; a span beyond 64 bits
// is "capacity overflow" (internal).
Result<std::size_t, PlainError> embedding_rows(std::size_t t, std::size_t delay, std::size_t dimension);

namespace detail {
// Fills out (rows * dimension values, rows from embedding_rows) row-major:
// entry i * dimension + j is signal[i + j * delay].
void delay_embed_into(std::span<const double> signal, std::size_t delay, std::size_t dimension, std::span<double> out);
}  // namespace detail

// The flat embedding, written into the buffer that alloc(rows * dimension)
// returns (anything with span()), or the message of embedding_rows.
template <class Alloc>
auto delay_embed(std::span<const double> signal, std::size_t delay, std::size_t dimension, Alloc&& alloc)
    -> Result<decltype(alloc(std::size_t{})), PlainError> {
    auto rows = embedding_rows(signal.size(), delay, dimension);
    if (!rows) return std::move(rows).error();
    const auto len = buffer_len(rows.value(), dimension);
    if (!len) return capacity_overflow();
    auto out = alloc(*len);
    detail::delay_embed_into(signal, delay, dimension, out.span());
    return out;
}

// The same into a vector.
Result<std::vector<double>, PlainError> delay_embed(std::span<const double> signal, std::size_t delay,
                                                    std::size_t dimension);

// The first lag k in 1 .. L - 2 (L = min(T / 2, max_lag)) whose mutual
// information is strictly below both neighbours, else 1. Fails only when
// interrupted.
Result<std::size_t, PlainError> optimal_delay(std::span<const double> signal, std::size_t max_lag, std::size_t n_bins);

// Per row of an n x dimension embedding: the Euclidean distance to the
// nearest other row and its index (lowest index on ties); (+inf, 0) for a
// single row. The records of the exhaustive scan over every pair, found
// through a k-d tree where the values allow; fails only when interrupted.
Result<std::vector<std::pair<double, std::size_t>>, PlainError> nearest_neighbor_distances(
    std::span<const double> embedded, std::size_t dimension);

// The false-nearest-neighbour dimension in 0 .. max_dim. Fails only when
// interrupted.
Result<std::size_t, PlainError> optimal_dimension(std::span<const double> signal, std::size_t delay,
                                                  std::size_t max_dim, double rtol, double atol);

}  // namespace qel::embedding
