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

namespace qel {

namespace select_detail {

inline constexpr std::uint64_t kSign = std::uint64_t{1} << 63;
inline constexpr int kDigitBits = 16;
inline constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;
// Below this many candidates a sort is cheaper than another histogram.
inline constexpr std::size_t kSortBelow = 256;

inline std::uint64_t key_of(double x) {
    if (x == 0.0) x = 0.0;  // one key for both zeros: less-than cannot tell them apart
    std::uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    return (u & kSign) ? ~u : (u | kSign);
}

inline double value_of(std::uint64_t k) {
    std::uint64_t u = (k & kSign) ? (k & ~kSign) : ~k;
    double x;
    std::memcpy(&x, &u, sizeof x);
    return x;
}

// Visits gathered keys; one type for every level below the first, so that
// the recursion instantiates nothing new.
struct VisitKeys {
    std::span<const std::uint64_t> keys;
    template <class F>
    void operator()(F&& f) const {
        for (std::uint64_t k : keys) f(k);
    }
};

// out[i] = the key at position ranks[i] of the ascending order of the `count`
// keys that visit(f) passes to f; ranks ascending and below count. Counts
// fit 32 bits per bucket (Count) or need 64.
template <class Count, class Visit>
void select_keys(Visit visit, std::size_t count, std::span<const std::size_t> ranks, std::uint64_t* out,
                 int shift) {
    if (count <= kSortBelow) {
        std::vector<std::uint64_t> all;
        all.reserve(count);
        visit([&](std::uint64_t k) { all.push_back(k); });
        std::sort(all.begin(), all.end());
        for (std::size_t i = 0; i < ranks.size(); ++i) out[i] = all[ranks[i]];
        return;
    }
    std::vector<Count> hist(kBuckets, 0);
    visit([&](std::uint64_t k) { ++hist[(k >> shift) & (kBuckets - 1)]; });

    // The buckets that hold a wanted position, each gathered in one shared pass.
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
    std::vector<std::int32_t> slot(kBuckets, -1);
    std::vector<std::vector<std::uint64_t>> parts(targets.size());
    for (std::size_t t = 0; t < targets.size(); ++t) {
        slot[targets[t].bucket] = static_cast<std::int32_t>(t);
        parts[t].reserve(hist[targets[t].bucket]);
    }
    visit([&](std::uint64_t k) {
        std::int32_t s = slot[(k >> shift) & (kBuckets - 1)];
        if (s >= 0) parts[s].push_back(k);
    });
    hist = {};
    for (std::size_t t = 0; t < targets.size(); ++t) {
        const Target& tg = targets[t];
        const std::vector<std::uint64_t>& part = parts[t];
        std::vector<std::size_t> rel(ranks.begin() + tg.first_rank, ranks.begin() + tg.end_rank);
        for (std::size_t& r : rel) r -= tg.below;
        if (shift == 0) {  // every digit matched: the keys are equal
            for (std::size_t i = 0; i < rel.size(); ++i) out[tg.first_rank + i] = part[0];
            continue;
        }
        select_keys<Count>(VisitKeys{part}, part.size(), rel, out + tg.first_rank, shift - kDigitBits);
        parts[t] = {};
    }
}

}  // namespace select_detail

// out[i] = the element at position ranks[i] (each below values.size()) of
// values sorted stably in ascending order with every NaN last.
inline void select_sorted_positions(std::span<const double> values, std::span<const std::size_t> ranks,
                                    std::span<double> out) {
    using namespace select_detail;
    const std::size_t n_ranks = ranks.size();
    if (n_ranks == 0) return;
    std::vector<std::size_t> order(n_ranks);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return ranks[a] < ranks[b]; });
    std::vector<std::size_t> sorted(n_ranks);
    for (std::size_t i = 0; i < n_ranks; ++i) sorted[i] = ranks[order[i]];

    std::size_t numbers = 0;
    for (double x : values) numbers += !std::isnan(x);
    // The i-th value (in input order) for which pick(x) holds.
    auto nth_where = [&](std::size_t i, auto pick) {
        for (double x : values)
            if (pick(x) && i-- == 0) return x;
        return values[0];  // not reached: callers count first
    };

    std::size_t n_num = 0;
    while (n_num < n_ranks && sorted[n_num] < numbers) ++n_num;
    std::vector<std::uint64_t> keys(n_num);
    if (n_num > 0) {
        auto visit = [&](auto f) {
            for (double x : values)
                if (!std::isnan(x)) f(key_of(x));
        };
        std::span<const std::size_t> wanted(sorted.data(), n_num);
        if (numbers <= 0xffffffffu)
            select_keys<std::uint32_t>(visit, numbers, wanted, keys.data(), 64 - kDigitBits);
        else
            select_keys<std::uint64_t>(visit, numbers, wanted, keys.data(), 64 - kDigitBits);
    }
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
