// Inter-trial phase coherence of trial-major phase matrices (trial k, time
// point t at index k*T + t), and the per-time-point phasor sums that the
// frequency specificity shares with it.
#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/util/interrupt.hpp"
#include "engine/util/pool.hpp"
#include "types/error.hpp"

namespace qel::itpc {

// Ok when `len` values hold the N x T matrix (N, T >= 1); otherwise the index error of
// the first index that a loop over time points, trials within each, would
// read past the end.
Result<void, PlainError> check_matrix(std::size_t len, std::size_t n_trials, std::size_t n_timepoints);

// c[t] and s[t] become the sums of cos and sin of phase(phases[k*T + t]) over
// the trials k = 0 .. N-1, each summed in trial order from 0.0. The matrix
// must be checked already; c and s hold T values. Trials are visited in
// blocks (one row at a time, so reads are contiguous) and the time points of
// a block are split over the pool; each sum keeps its own order, so the
// split changes no bit. Returns false when the caller interrupted.
template <class Phase>
bool phasor_sums(std::span<const double> phases, std::size_t n_trials, std::size_t n_timepoints, Phase phase,
                 std::span<double> c, std::span<double> s) {
    constexpr std::size_t kChunk = 256;             // time points per task
    constexpr std::size_t kBlockValues = 1u << 20;  // phases per wave
    const std::size_t T = n_timepoints;
    for (std::size_t t = 0; t < T; ++t) c[t] = s[t] = 0.0;
    const std::size_t block = T >= kBlockValues ? 1 : kBlockValues / T;
    for (std::size_t k0 = 0; k0 < n_trials;) {
        const std::size_t k1 = n_trials - k0 > block ? k0 + block : n_trials;
        auto run = [&](std::size_t b, std::size_t e) {
            for (std::size_t k = k0; k < k1; ++k) {
                const double* row = phases.data() + k * T;
                for (std::size_t t = b; t < e; ++t) {
                    double sn, cs;
                    ::sincos(phase(row[t]), &sn, &cs);
                    c[t] += cs;
                    s[t] += sn;
                }
            }
        };
        if (T >= 2 * kChunk && (k1 - k0) * T >= 4 * kChunk)
            pool::for_chunks(T, kChunk, run);
        else
            run(0, T);
        k0 = k1;
        if (k0 < n_trials && interrupted()) return false;
    }
    return true;
}

// ITPC_t = sqrt((S*inv)^2 + (C*inv)^2), inv = 1/N, not clamped. Empty for
// N = 0 or T = 0; T ones for N = 1 without reading the phases.
Result<std::vector<double>, PlainError> compute_itpc(std::span<const double> phases, std::size_t n_trials,
                                                     std::size_t n_timepoints);

// Mean ITPC over the pause indices in [0, T), duplicates counted; 0.0 when
// there are none (the phases are then not read when no index is >= 0).
Result<double, PlainError> itpc_persistence(std::span<const double> phases, std::size_t n_trials,
                                            std::size_t n_timepoints, std::span<const std::int64_t> pause_indices);

}  // namespace qel::itpc
