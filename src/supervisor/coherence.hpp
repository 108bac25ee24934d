// Good and bad layer partitions, and the synchrony questions asked of them.
#pragma once
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace qel::coherence {

// Mean of layer_rs[idx] over the indices in list order, indices past the end
// skipped; 0.0 when nothing is taken. NaN and out-of-range R values are used
// as they are.
double mean_r(std::span<const double> layer_rs, std::span<const std::uint64_t> indices);

struct CoherenceMonitor {
    std::vector<std::uint64_t> good_layers;  // first occurrences, in the order given
    std::vector<std::uint64_t> bad_layers;   // same, and never an index of good_layers

    // Repeats are dropped, keeping the first occurrence; a bad index that is
    // also good is dropped. Indices are not checked against any layer count.
    static CoherenceMonitor create(std::span<const std::uint64_t> good, std::span<const std::uint64_t> bad);

    double compute_r_good(std::span<const double> layer_rs) const { return mean_r(layer_rs, good_layers); }
    double compute_r_bad(std::span<const double> layer_rs) const { return mean_r(layer_rs, bad_layers); }

    // Pairs (i, j), i < j < n, whose alignment[i * n + j] >= threshold, by i
    // then j. Only the strict upper triangle is read. An unusable threshold or
    // an alignment that is not n x n gives no pairs.
    static std::vector<std::pair<std::uint64_t, std::uint64_t>> detect_phase_lock(std::size_t n,
                                                                                  std::span<const double> alignment,
                                                                                  double threshold);
};

}  // namespace qel::coherence
