#include "engine/pac.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/util/checked.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/phase_bins.hpp"
#include "engine/util/pool_stop.hpp"
#include "engine/util/saturate.hpp"
#include "engine/util/wrap.hpp"

namespace qel::pac {

namespace {

constexpr std::size_t kCheckEvery = std::size_t{1} << 16;

// The bin of a phase: a NaN phase lands in bin 0, and a wrapped phase that
// rounds up to 2pi in the last bin.
// wrap_phase, not phase_bin's two remainders: this index's own rounding.
inline std::size_t bin_of(double theta, double width, std::size_t n_bins) {
    return static_cast<std::size_t>(bin_index(wrap_phase(theta), width, n_bins));
}

// With more bins than samples, renumbers each sample's bin as its rank among
// the bins in use, so that no buffer grows with n_bins. An empty bin adds
// +0.0 to the total and nothing to the divergence, so leaving it out changes
// no bit. Returns the number of slots.
std::size_t to_slots(std::span<std::size_t> bins, std::size_t n_bins) {
    if (n_bins <= bins.size()) return n_bins;
    std::vector<std::size_t> used(bins.begin(), bins.end());
    std::sort(used.begin(), used.end());
    used.erase(std::unique(used.begin(), used.end()), used.end());
    for (std::size_t& b : bins)
        b = static_cast<std::size_t>(std::lower_bound(used.begin(), used.end(), b) - used.begin());
    return used.size();
}

// The index from the amplitude sums (sum_of(slot)) and counts of the slots,
// in bin order.
template <class SumOf>
double index_from_slots(std::size_t n_slots, std::size_t n_bins, SumOf sum_of, const std::uint64_t* counts) {
    auto mean = [&](std::size_t b) { return counts[b] == 0 ? 0.0 : sum_of(b) / static_cast<double>(counts[b]); };
    double total = 0.0;
    for (std::size_t b = 0; b < n_slots; ++b) total += mean(b);
    if (total <= 0.0) return 0.0;
    const double nb = static_cast<double>(n_bins);
    double kl = 0.0;
    for (std::size_t b = 0; b < n_slots; ++b) {
        const double p = mean(b) / total;
        if (p > 0.0) kl += p * std::log(p * nb);
    }
    double mi = kl / std::log(nb);
    // Limits that let NaN through.
    if (mi < 0.0) mi = 0.0;
    if (mi > 1.0) mi = 1.0;
    return mi;
}

}  // namespace

Result<double, PlainError> modulation_index(std::span<const double> theta, std::span<const double> amp,
                                            std::size_t n_bins) {
    if (n_bins == 0 || theta.empty() || amp.empty()) return 0.0;
    const std::size_t m = theta.size() < amp.size() ? theta.size() : amp.size();
    const double width = kTwoPi / static_cast<double>(n_bins);
    std::vector<std::size_t> bins(m);
    for (std::size_t i0 = 0; i0 < m; i0 += kCheckEvery) {
        if (i0 > 0 && interrupted()) return interrupted_error();
        const std::size_t i1 = m - i0 > kCheckEvery ? i0 + kCheckEvery : m;
        for (std::size_t i = i0; i < i1; ++i) bins[i] = bin_of(theta[i], width, n_bins);
    }
    const std::size_t n_slots = to_slots(bins, n_bins);
    std::vector<double> sums(n_slots);
    std::vector<std::uint64_t> counts(n_slots);
    for (std::size_t i = 0; i < m; ++i) {
        sums[bins[i]] += amp[i];
        ++counts[bins[i]];
    }
    return index_from_slots(
        n_slots, n_bins, [&](std::size_t b) { return sums[b]; }, counts.data());
}

Result<std::vector<double>, PlainError> pac_matrix(std::span<const double> phases, std::span<const double> amplitudes,
                                                   std::size_t t, std::size_t n, std::size_t n_bins) {
    auto nn = buffer_len(n, n);
    if (!nn) return capacity_overflow();
    auto nt = checked_mul(n, t);
    std::vector<double> out(*nn, 0.0);
    if (n == 0 || t == 0 || !nt || phases.size() < *nt || amplitudes.size() < *nt || n_bins == 0) return out;
    const double width = kTwoPi / static_cast<double>(n_bins);
    // Row i: oscillator i's bins once, then every amplitude row added into
    // the bins of all j at once. Each bin sum of pair (i, j) still takes its
    // amplitudes in time order, as the pair on its own would.
    auto rows = [&](std::size_t i0, std::size_t i1) {
        std::vector<std::size_t> bins(t);
        std::vector<std::uint64_t> counts;
        std::vector<double> sums;
        for (std::size_t i = i0; i < i1; ++i) {
            for (std::size_t k = 0; k < t; ++k) bins[k] = bin_of(phases[k * n + i], width, n_bins);
            const std::size_t n_slots = to_slots(bins, n_bins);  // at most t: sums hold at most n*t values
            counts.assign(n_slots, 0);
            sums.assign(n_slots * n, 0.0);
            for (std::size_t k = 0; k < t; ++k) {
                ++counts[bins[k]];
                double* acc = sums.data() + bins[k] * n;
                const double* a = amplitudes.data() + k * n;
                for (std::size_t j = 0; j < n; ++j) acc[j] += a[j];
            }
            for (std::size_t j = 0; j < n; ++j)
                out[i * n + j] = index_from_slots(
                    n_slots, n_bins, [&](std::size_t b) { return sums[b * n + j]; }, counts.data());
        }
    };
    const bool parallel = n > 1 && *nt >= kCheckEvery / n;
    if (!pool::for_chunks_interruptible(n, 1, parallel, rows)) return interrupted_error();
    return out;
}

}  // namespace qel::pac
