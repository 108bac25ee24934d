// Sorts of float64 keys. NaN makes "a < b" inconsistent, and std::sort with
// such a comparison is undefined. The stable sorts order numbers as the plain
// comparison orders them (equal values keep their input order) and put every
// NaN last, in input order; the in-place sort does the same without the
// stable sorts' buffer, leaving equal keys in no particular order; the total
// order ranks every bit pattern, so its sort has only one possible result.
#pragma once
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <span>

namespace qel {

// Sorts items by key(item): ascending when `descending` is false.
template <class T, class Key>
void stable_sort_by(std::span<T> items, Key key, bool descending = false) {
    auto nan_at = std::stable_partition(items.begin(), items.end(),
                                        [&](const T& v) { return !std::isnan(static_cast<double>(key(v))); });
    if (descending)
        std::stable_sort(items.begin(), nan_at, [&](const T& a, const T& b) { return key(a) > key(b); });
    else
        std::stable_sort(items.begin(), nan_at, [&](const T& a, const T& b) { return key(a) < key(b); });
}

inline void stable_sort_ascending(std::span<double> v) {
    stable_sort_by(
        v, [](double x) { return x; }, false);
}
inline void stable_sort_descending(std::span<double> v) {
    stable_sort_by(
        v, [](double x) { return x; }, true);
}

// Ascending by key(item), NaN last, unstable and in place: no memory beyond
// the recursion stack, for arrays too large to double.
template <class T, class Key>
void sort_by_in_place(std::span<T> items, Key key) {
    auto nan_at = std::partition(items.begin(), items.end(),
                                 [&](const T& v) { return !std::isnan(static_cast<double>(key(v))); });
    std::sort(items.begin(), nan_at, [&](const T& a, const T& b) { return key(a) < key(b); });
}

// IEEE 754 totalOrder as an unsigned key: -NaN, -inf, ..., -0.0, +0.0, ...,
// +inf, +NaN (NaNs by payload within each sign).
inline std::uint64_t total_order_key(double x) {
    const std::uint64_t b = std::bit_cast<std::uint64_t>(x);
    return (b >> 63) != 0 ? ~b : b | (std::uint64_t{1} << 63);
}

inline void sort_total_order(std::span<double> v) {
    std::sort(v.begin(), v.end(), [](double a, double b) { return total_order_key(a) < total_order_key(b); });
}

}  // namespace qel
