// Exact counts of observed code tuples (bin codes, symbols, joint states).
//
// A sample is K codes, one from each column; code k ranges over
// 0 .. bounds[k] - 1. The result is the list of non-zero cells of the
// K-dimensional count table, in ascending lexicographic key order, which is
// the row-major order of the dense table. Sums taken over these cells in list
// order are therefore the sums over the dense table's non-zero cells, bit for
// bit, whichever way the counting was done:
// - a dense table when it has no more cells than there are samples;
// - otherwise sort and run-length, on one packed 64-bit key when the product
//   of the bounds fits, else on the key tuples (never on a wrapped product).
// Memory is O(samples) on the sorting paths, whatever the bounds.
#pragma once
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qel::code_count {

template <std::size_t K>
using Key = std::array<std::uint64_t, K>;

template <std::size_t K>
struct Cell {
    Key<K> key;
    std::uint64_t count;
};

namespace detail {

// Product of the bounds, or 0 when it does not fit in 64 bits (a zero
// bound gives an empty table, handled before).
template <std::size_t K>
std::uint64_t table_cells(const Key<K>& bounds) {
    std::uint64_t cells = 1;
    for (std::uint64_t b : bounds)
        if (__builtin_mul_overflow(cells, b, &cells)) return 0;
    return cells;
}

template <std::size_t K>
bool in_bounds(const std::array<std::span<const std::uint64_t>, K>& cols, const Key<K>& bounds, std::size_t t) {
    for (std::size_t k = 0; k < K; ++k)
        if (cols[k][t] >= bounds[k]) return false;
    return true;
}

template <std::size_t K>
std::uint64_t pack(const std::array<std::span<const std::uint64_t>, K>& cols, const Key<K>& bounds, std::size_t t) {
    std::uint64_t idx = cols[0][t];
    for (std::size_t k = 1; k < K; ++k) idx = idx * bounds[k] + cols[k][t];
    return idx;
}

template <std::size_t K>
Key<K> unpack(std::uint64_t idx, const Key<K>& bounds) {
    Key<K> key{};
    for (std::size_t k = K; k-- > 1;) {
        key[k] = idx % bounds[k];
        idx /= bounds[k];
    }
    key[0] = idx;
    return key;
}

}  // namespace detail

// Counts the samples t < n, n the shortest column; samples with a code at or
// beyond its bound are skipped.
template <std::size_t K>
std::vector<Cell<K>> count(const std::array<std::span<const std::uint64_t>, K>& columns, const Key<K>& bounds) {
    static_assert(K >= 1);
    std::size_t n = columns[0].size();
    for (const auto& c : columns) n = std::min(n, c.size());
    std::vector<Cell<K>> cells;
    if (n == 0) return cells;
    for (std::uint64_t b : bounds)
        if (b == 0) return cells;

    const std::uint64_t n_cells = detail::table_cells(bounds);
    if (n_cells != 0 && n_cells <= n) {
        std::vector<std::uint64_t> table(n_cells, 0);
        for (std::size_t t = 0; t < n; ++t)
            if (detail::in_bounds(columns, bounds, t)) ++table[detail::pack(columns, bounds, t)];
        for (std::uint64_t i = 0; i < n_cells; ++i)
            if (table[i] != 0) cells.push_back({detail::unpack(i, bounds), table[i]});
        return cells;
    }
    if (n_cells != 0) {
        std::vector<std::uint64_t> keys;
        keys.reserve(n);
        for (std::size_t t = 0; t < n; ++t)
            if (detail::in_bounds(columns, bounds, t)) keys.push_back(detail::pack(columns, bounds, t));
        std::sort(keys.begin(), keys.end());
        for (std::size_t a = 0; a < keys.size();) {
            std::size_t b = a + 1;
            while (b < keys.size() && keys[b] == keys[a]) ++b;
            cells.push_back({detail::unpack(keys[a], bounds), static_cast<std::uint64_t>(b - a)});
            a = b;
        }
        return cells;
    }
    std::vector<Key<K>> keys;
    keys.reserve(n);
    for (std::size_t t = 0; t < n; ++t) {
        if (!detail::in_bounds(columns, bounds, t)) continue;
        Key<K> key;
        for (std::size_t k = 0; k < K; ++k) key[k] = columns[k][t];
        keys.push_back(key);
    }
    std::sort(keys.begin(), keys.end());
    for (std::size_t a = 0; a < keys.size();) {
        std::size_t b = a + 1;
        while (b < keys.size() && keys[b] == keys[a]) ++b;
        cells.push_back({keys[a], static_cast<std::uint64_t>(b - a)});
        a = b;
    }
    return cells;
}

template <class V>
struct Run {
    V value;
    std::uint64_t count;
};

// Counts of single values whose range is open (any 64-bit code): sorts
// `values` in place and returns each distinct value with its count, in
// ascending order of V.
template <class V>
std::vector<Run<V>> count_values(std::span<V> values) {
    std::sort(values.begin(), values.end());
    std::vector<Run<V>> runs;
    for (std::size_t a = 0; a < values.size();) {
        std::size_t b = a + 1;
        while (b < values.size() && values[b] == values[a]) ++b;
        runs.push_back({values[a], static_cast<std::uint64_t>(b - a)});
        a = b;
    }
    return runs;
}

}  // namespace qel::code_count
