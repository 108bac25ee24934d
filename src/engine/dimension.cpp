#include "engine/dimension.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "engine/util/count_below.hpp"
#include "engine/util/float_sort.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/mmix_lcg.hpp"
#include "engine/util/pool.hpp"
#include "engine/util/pool_stop.hpp"
#include "engine/util/sq_dist.hpp"
#include "types/format.hpp"

namespace qel::dimension {

namespace {

using u128 = unsigned __int128;

constexpr std::uint64_t kChunkSeedStep = 0x9E3779B97F4A7C15ULL;
// Points per pool task (at least) of the exhaustive path.
constexpr std::size_t kPointsPerTask = 16;
// Distances of one row counted together: a task's scratch stays this size
// whatever T is.
constexpr std::size_t kRowBlock = 2048;
// Sampled distances counted together, and pairs per chunk between interrupt checks.
constexpr std::size_t kSampleBlock = 256;
constexpr std::size_t kDrawsPerWave = std::size_t{1} << 20;

double squared_distance(const double* p, const double* q, std::size_t d) {
    double s = 0.0;
    for (std::size_t c = 0; c < d; ++c) {
        const double diff = p[c] - q[c];
        s += diff * diff;
    }
    return s;
}

// The bound on squared distances that matches radius eps: sqrt(s) < eps
// exactly when s < bound, for every s >= 0 or NaN. sqrt is correctly
// rounded and so never decreasing, hence the squares with a root below eps
// are [0, S]; the bound is the double after S, found from eps * eps by a
// few steps. No root is then taken per distance.
double squared_bound(double eps) {
    if (!(eps > 0.0)) return 0.0;  // no root is below it (NaN included)
    if (eps == std::numeric_limits<double>::infinity()) return eps;
    double s = eps * eps;
    while (!(std::sqrt(s) < eps)) s = std::nextafter(s, 0.0);
    for (;;) {
        const double up = std::nextafter(s, std::numeric_limits<double>::infinity());
        if (!(std::sqrt(up) < eps)) break;
        s = up;
    }
    return std::nextafter(s, std::numeric_limits<double>::infinity());
}

// Integer counts of the squared distances below each radius's bound, kept
// per task in size() counters and added up exactly in any order; no
// distance list is kept. Up to kLinearRadii radii, one counter per radius,
// each counted over a run of distances at a time. Beyond, the bounds are
// sorted and each distance counts once, in the slot of the first bound above
// it (the last slot when none is, NaN included): the distances below bound k
// are then the counts of the slots up to k.
class Counters {
public:
    explicit Counters(std::span<const double> eps) : linear_(eps.size() <= kLinearRadii) {
        for (double e : eps) bounds_.push_back(squared_bound(e));
        if (linear_) return;
        sorted_ = bounds_;
        std::sort(sorted_.begin(), sorted_.end());
    }
    std::size_t size() const { return linear_ ? bounds_.size() : sorted_.size() + 1; }
    // Counts the squared distances v[0 .. n).
    void add(std::uint64_t* h, const double* v, std::size_t n) const {
        if (linear_) {
            for (std::size_t k = 0; k < bounds_.size(); ++k) h[k] += count_below(v, n, bounds_[k]);
            return;
        }
        for (std::size_t j = 0; j < n; ++j) ++h[slot(v[j])];
    }
    // C(eps) from the per-task counters and the number of distances (0 gives NaN).
    std::vector<double> shares(std::span<const std::uint64_t> counts, double total) const {
        const std::size_t width = size(), tasks = counts.size() / width;
        std::vector<std::uint64_t> sum(width, 0);
        for (std::size_t task = 0; task < tasks; ++task)
            for (std::size_t k = 0; k < width; ++k) sum[k] += counts[task * width + k];
        std::vector<double> out(bounds_.size());
        for (std::size_t k = 0; k < bounds_.size(); ++k) out[k] = static_cast<double>(below(sum, k)) / total;
        return out;
    }

private:
    static constexpr std::size_t kLinearRadii = 64;

    std::size_t slot(double v) const {
        const double* r = sorted_.data();
        std::size_t lo = 0, len = sorted_.size();
        while (len > 0) {
            const std::size_t half = len / 2;
            const bool past = !(v < r[lo + half]);
            lo = past ? lo + half + 1 : lo;
            len = past ? len - half - 1 : half;
        }
        return lo;
    }
    std::uint64_t below(const std::vector<std::uint64_t>& sum, std::size_t k) const {
        if (linear_) return sum[k];
        // Slots up to the last of the bounds equal to this one.
        const auto last = std::upper_bound(sorted_.begin(), sorted_.end(), bounds_[k]) - sorted_.begin();
        std::uint64_t c = 0;
        for (std::ptrdiff_t s = 0; s < last; ++s) c += sum[static_cast<std::size_t>(s)];
        return c;
    }

    bool linear_;
    std::vector<double> bounds_, sorted_;
};

// Every pair i < j, the coordinates read column by column.
Result<std::vector<double>, PlainError> all_pairs(const double* x, std::size_t t, std::size_t d, double pairs,
                                                  std::span<const double> eps) {
    const Counters counters(eps);
    const std::size_t n_slots = counters.size();
    // Enough points per task that the counters stay within about 64 per point.
    const std::size_t per_task = std::max(kPointsPerTask, n_slots / 64);
    const std::size_t tasks = (t + per_task - 1) / per_task;
    const auto n_counts = buffer_len(tasks, n_slots);
    const auto n_cols = buffer_len(t, d);
    if (!n_counts || !n_cols) return capacity_overflow();
    std::vector<double> cols(*n_cols);
    for (std::size_t i = 0; i < t; ++i)
        for (std::size_t c = 0; c < d; ++c) cols[c * t + i] = x[i * d + c];
    std::vector<std::uint64_t> counts(*n_counts, 0);
    auto rows = [&](std::size_t b, std::size_t e, const pool::Stop& stop) {
        std::uint64_t* h = counts.data() + (b / per_task) * n_slots;
        std::vector<double> s(std::min(kRowBlock, t - b - 1));
        for (std::size_t i = b; i < e; ++i) {
            if (stop()) return;
            for (std::size_t j0 = i + 1; j0 < t; j0 += kRowBlock) {
                const std::size_t len = std::min(kRowBlock, t - j0);
                sq_distances(cols.data(), t, d, i, j0, len, s.data());
                counters.add(h, s.data(), len);
            }
        }
    };
    if (!pool::for_chunks_stoppable(t, per_task, true, rows)) return interrupted_error();
    return counters.shares(counts, pairs);
}

// chunks * per_chunk ordered pairs (i != j), chunk c drawing from its own
// generator seeded with (c * golden-ratio constant) xor seed. The chunks
// advance together, kDrawsPerWave pairs each per pool dispatch, so that the
// caller can interrupt a large sample; each generator carries on where it
// stopped, so the waves change no draw.
Result<std::vector<double>, PlainError> sampled_pairs(const double* x, std::uint64_t t, std::size_t d,
                                                      std::size_t chunks, std::size_t per_chunk, std::uint64_t seed,
                                                      std::span<const double> eps) {
    const Counters counters(eps);
    const std::size_t n_slots = counters.size();
    const auto n_counts = buffer_len(chunks, n_slots);
    if (!n_counts) return capacity_overflow();
    std::vector<std::uint64_t> counts(*n_counts, 0);
    std::vector<MmixLcg> rngs;
    rngs.reserve(chunks);
    for (std::size_t c = 0; c < chunks; ++c) rngs.emplace_back(static_cast<std::uint64_t>(c) * kChunkSeedStep ^ seed);
    for (std::size_t done = 0; done < per_chunk;) {
        const std::size_t wave = std::min(kDrawsPerWave, per_chunk - done);
        pool::for_each_index(chunks, [&](std::size_t c) {
            MmixLcg& rng = rngs[c];
            std::uint64_t* h = counts.data() + c * n_slots;
            std::array<double, kSampleBlock> block;
            for (std::size_t k0 = 0; k0 < wave; k0 += kSampleBlock) {
                const std::size_t len = std::min(kSampleBlock, wave - k0);
                for (std::size_t k = 0; k < len; ++k) {
                    std::uint64_t i = rng.index(t), j = rng.index(t);
                    while (i == j) {
                        i = rng.index(t);
                        j = rng.index(t);
                    }
                    block[k] = squared_distance(x + i * d, x + j * d, d);
                }
                counters.add(h, block.data(), len);
            }
        });
        done += wave;
        if (done < per_chunk && interrupted()) return interrupted_error();
    }
    // chunks * per_chunk <= max_pairs < 2^64
    return counters.shares(counts, static_cast<double>(chunks * per_chunk));
}

}  // namespace

Result<std::vector<double>, PlainError> correlation_integral(std::span<const double> trajectory, std::uint64_t t,
                                                             std::uint64_t d, std::span<const double> epsilons,
                                                             std::uint64_t max_pairs, std::uint64_t seed) {
    // Exact products: a T*d beyond 64 bits never matches a length.
    const u128 expected = static_cast<u128>(t) * d;
    if (expected != trajectory.size())
        return PlainError::value_error(
            text::cat("trajectory length ", trajectory.size(), " != T*d=", text::decimal(expected)));
    if (t < 2) return std::vector<double>(epsilons.size(), 0.0);
    if (epsilons.empty()) return std::vector<double>{};  // nothing to count
    const double* x = trajectory.data();
    const u128 pairs = static_cast<u128>(t) * (t - 1) / 2;
    // No distance list is kept, but a sample that no list could ever hold
    // (2^60 distances or more) is refused as one would be.
    if (pairs <= max_pairs) {
        if (!buffer_len(static_cast<std::size_t>(pairs))) return capacity_overflow();
        return all_pairs(x, t, d, static_cast<double>(pairs), epsilons);
    }
    const std::size_t chunks = pool::worker_count();
    const std::size_t per_chunk = max_pairs / chunks;
    if (!buffer_len(chunks, per_chunk)) return capacity_overflow();
    return sampled_pairs(x, t, d, chunks, per_chunk, seed, epsilons);
}

double kaplan_yorke_dimension(std::span<const double> exponents) {
    const std::size_t n = exponents.size();
    if (n == 0) return 0.0;
    std::vector<double> l(exponents.begin(), exponents.end());
    stable_sort_descending(l);
    std::vector<double> cs(n);
    double run = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        run = k == 0 ? l[0] : run + l[k];
        cs[k] = run;
    }
    if (cs[0] < 0.0) return 0.0;
    std::size_t m = 0;
    while (m < n && cs[m] >= 0.0) ++m;
    if (m == n) return static_cast<double>(n);
    const std::size_t j = m == 0 ? 0 : m - 1;
    if (j + 1 == n) return static_cast<double>(n);
    const double next = std::fabs(l[j + 1]);
    if (next < 1e-300) return static_cast<double>(j + 1);
    return static_cast<double>(j + 1) + cs[j] / next;
}

}  // namespace qel::dimension
