#include "supervisor/coherence.hpp"

#include <cmath>
#include <unordered_set>

#include "engine/util/checked.hpp"

namespace qel::coherence {

namespace {

std::vector<std::uint64_t> first_occurrences(std::span<const std::uint64_t> in,
                                             const std::unordered_set<std::uint64_t>& excluded) {
    std::vector<std::uint64_t> out;
    std::unordered_set<std::uint64_t> seen;
    for (std::uint64_t idx : in) {
        if (excluded.count(idx) != 0) continue;
        if (seen.insert(idx).second) out.push_back(idx);
    }
    return out;
}

}  // namespace

double mean_r(std::span<const double> layer_rs, std::span<const std::uint64_t> indices) {
    double sum = 0.0;
    std::size_t count = 0;
    for (std::uint64_t idx : indices) {
        if (idx >= layer_rs.size()) continue;
        sum += layer_rs[idx];
        ++count;
    }
    return count == 0 ? 0.0 : sum / static_cast<double>(count);
}

CoherenceMonitor CoherenceMonitor::create(std::span<const std::uint64_t> good, std::span<const std::uint64_t> bad) {
    CoherenceMonitor m;
    m.good_layers = first_occurrences(good, {});
    std::unordered_set<std::uint64_t> good_set(m.good_layers.begin(), m.good_layers.end());
    m.bad_layers = first_occurrences(bad, good_set);
    return m;
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> CoherenceMonitor::detect_phase_lock(
    std::size_t n, std::span<const double> alignment, double threshold) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pairs;
    if (!std::isfinite(threshold)) return pairs;
    // n * n of a huge n must not wrap round to the alignment's length.
    auto nn = checked_mul(n, n);
    if (!nn || *nn != alignment.size()) return pairs;
    for (std::size_t i = 0; i < n; ++i) {
        const double* row = alignment.data() + i * n;
        for (std::size_t j = i + 1; j < n; ++j)
            if (row[j] >= threshold) pairs.emplace_back(i, j);
    }
    return pairs;
}

}  // namespace qel::coherence
