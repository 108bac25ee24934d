// Medians by in-place selection, without sorting the whole sequence.
//
// A selection that trusts the plain less-than is undefined once NaN is
// present (NaN compares false both ways) and may run past its buffer. Here
// every NaN is first moved behind the numbers and ranks above all of them, so
// the selections below only ever see numbers: they always end, inside the
// buffer. Equal numbers (-0.0 and 0.0 included) are interchangeable.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <span>
#include <vector>

namespace qel {

namespace select_detail {

// The k-th smallest value (0-based) and, when wanted and k > 0, the largest
// of the k values ranked below it.
struct Ranked {
    double at = 0.0;
    double below = 0.0;
};

// v holds numbers only; k < v.size().
inline Ranked nth_of_numbers(std::span<double> v, std::size_t k, bool want_below) {
    std::nth_element(v.begin(), v.begin() + k, v.end());
    Ranked r{v[k], v[k]};
    if (want_below && k > 0) r.below = *std::max_element(v.begin(), v.begin() + k);
    return r;
}

// Below this many numbers a plain selection is as fast as sampling.
inline constexpr std::size_t kSampleFrom = std::size_t{1} << 12;

// Large inputs: two pivots drawn from an evenly strided sample bracket the
// target rank; one pass gathers the values inside the bracket to the front
// and counts those below it, and only the gathered few are selected. When the
// sample misleads (the counts show the rank outside the bracket), the plain
// selection runs on everything, so the answer never depends on the sample.
inline Ranked sample_select(std::span<double> v, std::size_t k, bool want_below) {
    const std::size_t n = v.size();
    std::size_t s = static_cast<std::size_t>(std::cbrt(static_cast<double>(n)));
    s = std::clamp<std::size_t>(s * s, 1024, n / 4);
    const std::size_t stride = n / s;
    std::vector<double> sample(s);
    for (std::size_t i = 0; i < s; ++i) sample[i] = v[i * stride];
    const double rank = static_cast<double>(k) / static_cast<double>(n) * static_cast<double>(s);
    const double gap = 2.0 * std::sqrt(static_cast<double>(s)) + 1.0;
    const std::size_t lo_i = rank > gap ? static_cast<std::size_t>(rank - gap) : 0;
    const std::size_t hi_i = std::min(s - 1, static_cast<std::size_t>(rank + gap));
    std::nth_element(sample.begin(), sample.begin() + lo_i, sample.end());
    const double lo = sample[lo_i];
    if (hi_i > lo_i) std::nth_element(sample.begin() + lo_i + 1, sample.begin() + hi_i, sample.end());
    const double hi = sample[hi_i];

    // One pass gathers the bracketed values to the front (a swap every time,
    // so there is no branch to mispredict) and counts those below it.
    std::size_t w = 0, n_lo = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = v[i];
        v[i] = v[w];
        v[w] = x;
        w += (x >= lo) & (x <= hi);
        n_lo += x < lo;
    }
    // Outside the bracket, or the value below it wanted from under the bracket.
    if (k < n_lo || k >= n_lo + w || (want_below && k == n_lo && k > 0)) return nth_of_numbers(v, k, want_below);
    if (lo == hi) return Ranked{lo, lo};
    return nth_of_numbers(v.first(w), k - n_lo, want_below);  // k's rank inside the bracket
}

}  // namespace select_detail

// The median of v, reordering v in place. With m = n / 2: for odd n the m-th
// smallest value (0-based); for even n ((m-th smallest) + (largest of the m
// values below it)) * 0.5. NaN ranks above every number, so a median that
// reaches a NaN is NaN. An empty v gives NaN.
inline double median_in_place(std::span<double> v) {
    if (v.empty()) return std::numeric_limits<double>::quiet_NaN();
    const std::size_t n = v.size();
    const std::size_t m = n / 2;
    const bool even = n % 2 == 0;
    auto nan_at = std::partition(v.begin(), v.end(), [](double x) { return !std::isnan(x); });
    const std::size_t numbers = static_cast<std::size_t>(nan_at - v.begin());
    if (m >= numbers) return v[m];
    std::span<double> nums = v.first(numbers);
    auto r = numbers < select_detail::kSampleFrom ? select_detail::nth_of_numbers(nums, m, even)
                                                  : select_detail::sample_select(nums, m, even);
    return even ? (r.at + r.below) * 0.5 : r.at;
}

}  // namespace qel
