// Stable sorts of float64 keys. NaN makes "a < b" inconsistent, and std::sort
// with such a comparison is undefined; here numbers are ordered as the plain
// comparison orders them (equal values keep their input order) and every NaN
// goes last, in input order.
#pragma once
#include <algorithm>
#include <cmath>
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
    stable_sort_by(v, [](double x) { return x; }, false);
}
inline void stable_sort_descending(std::span<double> v) {
    stable_sort_by(v, [](double x) { return x; }, true);
}

}  // namespace qel
