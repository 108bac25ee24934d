// Phase-amplitude coupling: the Kullback-Leibler modulation index of the
// mean amplitude per phase bin, for one pair of series and for every pair of
// oscillators of a network.
#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::pac {

// Phases are wrapped into [0, 2pi) and binned into n_bins equal bins; the
// index is in [0, 1] (NaN for n_bins = 1 with a positive mean amplitude), 0.0
// for n_bins = 0 or an empty series. The first min(len) pairs are used.
// Buffers grow with the series, never with n_bins beyond them.
Result<double, PlainError> modulation_index(std::span<const double> theta, std::span<const double> amp,
                                            std::size_t n_bins);

// n*n indices, entry i*n + j for oscillator i's phases against oscillator
// j's amplitudes; both inputs time-major (step k, oscillator i at k*n + i).
// Zeros when either input holds fewer than n*t values or t or n is 0.
Result<std::vector<double>, PlainError> pac_matrix(std::span<const double> phases, std::span<const double> amplitudes,
                                                   std::size_t t, std::size_t n, std::size_t n_bins);

}  // namespace qel::pac
