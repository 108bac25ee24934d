// Order statistics without a full sort: the elements that the stable
// NaN-last sort of engine/util/float_sort.hpp would put at given positions,
// bit for bit (signed zeros and NaN payloads included), in linear time.
//
// Numbers are mapped to unsigned keys that order as the plain less-than does
// (-0.0 and +0.0 share the key of +0.0) and selected by 16-bit radix digits
// from the top; equal keys mean identical bits except for the sign of zero,
// so only a zero needs a second look at the input to find which of the zeros
// the stable order puts there.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <span>
#include <vector>

#include "engine/util/float_sort.hpp"

namespace qel {

namespace stable_select_detail {

inline constexpr std::uint64_t kSign = std::uint64_t{1} << 63;
inline constexpr int kDigitBits = 16;
inline constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;
// Below this many candidates a sort is cheaper than another histogram.
inline constexpr std::size_t kSortBelow = 256;

// Plain integer operations, no branch: this runs twice per sample.
inline std::uint64_t key_of(double x) {
    std::uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    const std::uint64_t k = u ^ ((std::uint64_t{0} - (u >> 63)) | kSign);
    // -0.0 maps just below +0.0; one key for both, as less-than cannot tell them apart.
    return k + static_cast<std::uint64_t>(k == ~kSign);
}

inline double value_of(std::uint64_t k) {
    std::uint64_t u = (k & kSign) ? (k & ~kSign) : ~k;
    double x;
    std::memcpy(&x, &u, sizeof x);
    return x;
}

inline std::size_t digit(std::uint64_t k, int shift) { return static_cast<std::size_t>((k >> shift) & (kBuckets - 1)); }

template <class Count>
void select_keys(std::span<const std::uint64_t> keys, std::span<const std::size_t> ranks, std::uint64_t* out,
                 int shift);

// out[i] = the key at position ranks[i] (ascending, below the total of hist)
// of the ascending order of the keys that visit(f) passes to f, given their
// histogram of the digit at `shift`. Each bucket that holds a wanted position
// is gathered (in one pass for up to 255 buckets) and searched one digit down.
template <class Count, class Visit>
void select_in_buckets(Visit visit, const std::vector<Count>& hist, std::span<const std::size_t> ranks,
                       std::uint64_t* out, int shift) {
    struct Target {
        std::size_t bucket, below, first_rank, end_rank;
    };
    std::vector<Target> targets;
    std::size_t bucket = 0, below = 0;
    for (std::size_t i = 0; i < ranks.size();) {
        while (below + hist[bucket] <= ranks[i]) below += hist[bucket++];
        std::size_t j = i;
        while (j < ranks.size() && ranks[j] < below + hist[bucket]) ++j;
        targets.push_back({bucket, below, i, j});
        i = j;
    }
    constexpr std::size_t kBatch = 255;  // slot 255: not wanted
    std::vector<std::uint8_t> slot(kBuckets, kBatch);
    for (std::size_t t0 = 0; t0 < targets.size(); t0 += kBatch) {
        const std::size_t t1 = std::min(targets.size(), t0 + kBatch);
        std::vector<std::vector<std::uint64_t>> parts(t1 - t0);
        for (std::size_t t = t0; t < t1; ++t) {
            slot[targets[t].bucket] = static_cast<std::uint8_t>(t - t0);
            parts[t - t0].reserve(hist[targets[t].bucket]);
        }
        visit([&](std::uint64_t k) {
            const std::uint8_t s = slot[digit(k, shift)];
            if (s != kBatch) parts[s].push_back(k);
        });
        for (std::size_t t = t0; t < t1; ++t) {
            const Target& tg = targets[t];
            std::vector<std::uint64_t>& part = parts[t - t0];
            slot[tg.bucket] = kBatch;
            std::vector<std::size_t> rel(ranks.begin() + tg.first_rank, ranks.begin() + tg.end_rank);
            for (std::size_t& r : rel) r -= tg.below;
            if (shift == 0) {  // every digit matched: the keys are equal
                for (std::size_t i = 0; i < rel.size(); ++i) out[tg.first_rank + i] = part[0];
            } else {
                select_keys<Count>(part, rel, out + tg.first_rank, shift - kDigitBits);
            }
            part = {};
        }
    }
}

// As select_in_buckets, for keys held in memory.
template <class Count>
void select_keys(std::span<const std::uint64_t> keys, std::span<const std::size_t> ranks, std::uint64_t* out,
                 int shift) {
    if (keys.size() <= kSortBelow) {
        std::vector<std::uint64_t> all(keys.begin(), keys.end());
        std::sort(all.begin(), all.end());
        for (std::size_t i = 0; i < ranks.size(); ++i) out[i] = all[ranks[i]];
        return;
    }
    std::vector<Count> hist(kBuckets, 0);
    for (std::uint64_t k : keys) ++hist[digit(k, shift)];
    auto visit = [&](auto f) {
        for (std::uint64_t k : keys) f(k);
    };
    select_in_buckets<Count>(visit, hist, ranks, out, shift);
}

// The numbers of values (NaN skipped) at ascending positions `ranks`.
template <class Count>
void select_numbers(std::span<const double> values, std::span<const std::size_t> ranks, std::uint64_t* out,
                    const std::vector<Count>& hist) {
    auto visit = [&](auto f) {
        for (double x : values)
            if (!std::isnan(x)) f(key_of(x));
    };
    select_in_buckets<Count>(visit, hist, ranks, out, 64 - kDigitBits);
}

template <class Count>
std::size_t top_histogram(std::span<const double> values, std::vector<Count>& hist) {
    hist.assign(kBuckets, 0);
    std::size_t nan = 0;
    for (double x : values) {
        if (std::isnan(x))
            ++nan;
        else
            ++hist[digit(key_of(x), 64 - kDigitBits)];
    }
    return values.size() - nan;
}

}  // namespace stable_select_detail

// out[i] = the element at position ranks[i] (each below values.size()) of
// values sorted stably in ascending order with every NaN last.
inline void select_sorted_positions(std::span<const double> values, std::span<const std::size_t> ranks,
                                    std::span<double> out) {
    using namespace stable_select_detail;
    const std::size_t n_ranks = ranks.size();
    if (n_ranks == 0) return;
    if (values.size() <= kSortBelow) {
        std::vector<double> sorted(values.begin(), values.end());
        stable_sort_ascending(sorted);
        for (std::size_t i = 0; i < n_ranks; ++i) out[i] = sorted[ranks[i]];
        return;
    }
    std::vector<std::size_t> order(n_ranks);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return ranks[a] < ranks[b]; });
    std::vector<std::size_t> sorted(n_ranks);
    for (std::size_t i = 0; i < n_ranks; ++i) sorted[i] = ranks[order[i]];

    std::vector<std::uint32_t> hist32;
    std::vector<std::uint64_t> hist64;
    const bool wide = values.size() > 0xffffffffu;
    const std::size_t numbers = wide ? top_histogram(values, hist64) : top_histogram(values, hist32);
    std::size_t n_num = 0;
    while (n_num < n_ranks && sorted[n_num] < numbers) ++n_num;
    std::vector<std::uint64_t> keys(n_num);
    if (n_num > 0) {
        std::span<const std::size_t> wanted(sorted.data(), n_num);
        if (wide)
            select_numbers(values, wanted, keys.data(), hist64);
        else
            select_numbers(values, wanted, keys.data(), hist32);
    }

    // The i-th value, in input order, for which pick(x) holds (there is one).
    auto nth_where = [&](std::size_t i, auto pick) {
        for (double x : values)
            if (pick(x) && i-- == 0) return x;
        return values[0];
    };
    std::size_t negatives = 0;
    bool counted = false;
    for (std::size_t i = 0; i < n_ranks; ++i) {
        double v;
        if (i >= n_num) {
            v = nth_where(sorted[i] - numbers, [](double x) { return std::isnan(x); });
        } else if (keys[i] == key_of(0.0)) {
            // The zeros follow the negatives, in input order.
            if (!counted) {
                for (double x : values) negatives += x < 0.0;
                counted = true;
            }
            v = nth_where(sorted[i] - negatives, [](double x) { return x == 0.0; });
        } else {
            v = value_of(keys[i]);
        }
        out[order[i]] = v;
    }
}

}  // namespace qel
