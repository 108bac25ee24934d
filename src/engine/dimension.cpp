#include "engine/dimension.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "engine/util/float_sort.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/mmix_lcg.hpp"
#include "engine/util/pool_waves.hpp"
#include "types/format.hpp"

namespace qel::dimension {

namespace {

using u128 = unsigned __int128;

constexpr std::uint64_t kChunkSeedStep = 0x9E3779B97F4A7C15ULL;
// Points per pool task and tasks per interruptible wave of the exhaustive
// distances; distances per counting task.
constexpr std::size_t kPointsPerTask = 16;
constexpr std::size_t kTasksPerWave = 512;
constexpr std::size_t kCountChunk = std::size_t{1} << 15;

std::string decimal(u128 v) {
    std::string s;
    do {
        s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
        v /= 10;
    } while (v != 0);
    return s;
}

double distance(const double* p, const double* q, std::size_t d) {
    double s = 0.0;
    for (std::size_t c = 0; c < d; ++c) {
        const double diff = p[c] - q[c];
        s += diff * diff;
    }
    return std::sqrt(s);
}

// Distances from every point i to the points j > i, in ascending i then j.
Result<std::vector<double>, PlainError> all_pairs(const double* x, std::size_t t, std::size_t d,
                                                  std::size_t pairs) {
    std::vector<double> dist(pairs);
    auto rows = [&](std::size_t b, std::size_t e) {
        // Pairs before row i: i*t - i*(i+1)/2, which fits since it is below `pairs`.
        double* out = dist.data() + (b * t - b * (b + 1) / 2);
        for (std::size_t i = b; i < e; ++i)
            for (std::size_t j = i + 1; j < t; ++j) *out++ = distance(x + i * d, x + j * d, d);
    };
    if (!pool::for_chunks_interruptible(t, kPointsPerTask, kTasksPerWave, true, rows)) return interrupted_error();
    return dist;
}

// chunks * per_chunk ordered pairs (i != j), chunk c drawing from its own
// generator seeded with (c * golden-ratio constant) xor seed.
std::vector<double> sampled_pairs(const double* x, std::uint64_t t, std::size_t d, std::size_t chunks,
                                  std::size_t per_chunk, std::uint64_t seed) {
    std::vector<double> dist(chunks * per_chunk);
    pool::for_each_index(chunks, [&](std::size_t c) {
        MmixLcg rng(static_cast<std::uint64_t>(c) * kChunkSeedStep ^ seed);
        double* out = dist.data() + c * per_chunk;
        for (std::size_t k = 0; k < per_chunk; ++k) {
            std::uint64_t i = rng.index(t), j = rng.index(t);
            while (i == j) {
                i = rng.index(t);
                j = rng.index(t);
            }
            out[k] = distance(x + i * d, x + j * d, d);
        }
    });
    return dist;
}

// Per epsilon, the number of distances strictly below it: integer counts per
// fixed chunk, added afterwards (exact in any order).
std::vector<double> shares_below(std::span<const double> dist, std::span<const double> eps) {
    const std::size_t n_eps = eps.size();
    const std::size_t n_chunks = (dist.size() + kCountChunk - 1) / kCountChunk;
    std::vector<std::uint64_t> counts(n_chunks * n_eps, 0);
    pool::for_chunks(dist.size(), kCountChunk, [&](std::size_t b, std::size_t e) {
        std::uint64_t* row = counts.data() + (b / kCountChunk) * n_eps;
        for (std::size_t k = 0; k < n_eps; ++k) {
            const double r = eps[k];
            std::uint64_t c = 0;
            for (std::size_t i = b; i < e; ++i) c += dist[i] < r ? 1 : 0;
            row[k] = c;
        }
    });
    std::vector<double> out(n_eps);
    const double total = static_cast<double>(dist.size());
    for (std::size_t k = 0; k < n_eps; ++k) {
        std::uint64_t c = 0;
        for (std::size_t ch = 0; ch < n_chunks; ++ch) c += counts[ch * n_eps + k];
        out[k] = static_cast<double>(c) / total;
    }
    return out;
}

}  // namespace

Result<std::vector<double>, PlainError> correlation_integral(std::span<const double> trajectory, std::uint64_t t,
                                                             std::uint64_t d, std::span<const double> epsilons,
                                                             std::uint64_t max_pairs, std::uint64_t seed) {
    // Exact products: a T*d beyond 64 bits never matches a length.
    const u128 expected = static_cast<u128>(t) * d;
    if (expected != trajectory.size())
        return PlainError::value_error(
            text::cat("trajectory length ", trajectory.size(), " != T*d=", decimal(expected)));
    if (t < 2) return std::vector<double>(epsilons.size(), 0.0);
    const double* x = trajectory.data();
    const u128 pairs = static_cast<u128>(t) * (t - 1) / 2;
    if (pairs <= max_pairs) {
        // pairs <= max_pairs < 2^64, and each point's pairs fit the buffer
        if (!buffer_len(static_cast<std::size_t>(pairs))) return capacity_overflow();
        auto dist = all_pairs(x, t, d, static_cast<std::size_t>(pairs));
        if (!dist) return std::move(dist).error();
        return shares_below(dist.value(), epsilons);
    }
    const std::size_t chunks = pool::worker_count();
    const std::size_t per_chunk = max_pairs / chunks;
    if (!buffer_len(chunks, per_chunk)) return capacity_overflow();
    const std::vector<double> dist = sampled_pairs(x, t, d, chunks, per_chunk, seed);
    return shares_below(dist, epsilons);
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
