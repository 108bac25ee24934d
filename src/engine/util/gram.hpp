// Column cross products of row-major sample matrices with a fixed summation
// order: entry (a, j) of Z^T Y is the sum over samples t = 0 .. rows - 1,
// ascending and starting from 0.0, of z[t][a] * y[t][j]. Every entry is its
// own running sum in sample order, so grouping entries into tiles, or tiles
// into tasks, changes no bit. Tiles of 4 x 8 entries keep their sums in
// registers while a block of samples streams past, and every tile takes the
// same block before the next one is read, so that the block stays in cache;
// a sum is stored after one block and resumed in the next.
#pragma once
#include <cstddef>

#include "engine/util/lanes.hpp"

namespace qel::gram {

namespace detail {

inline constexpr std::size_t kTile = 4;
inline constexpr std::size_t kRowBlock = 64;

// Samples [t0, t1) added to the sums of a tile of RA rows by NV vectors of
// columns, which start at 0.0 unless they resume. Each lane is one entry's
// sum, so the lanes change no bit.
template <class V, std::size_t RA, std::size_t NV>
[[gnu::always_inline]] inline void tile(const double* z, std::size_t zs, const double* y, std::size_t ys,
                                        std::size_t t0, std::size_t t1, bool resume, std::size_t a, std::size_t j,
                                        double* out, std::size_t os) {
    constexpr std::size_t W = sizeof(V) / sizeof(double);
    V acc[RA][NV];
    for (std::size_t r = 0; r < RA; ++r)
        for (std::size_t v = 0; v < NV; ++v) acc[r][v] = resume ? lanes::load<V>(out + (a + r) * os + j + v * W) : V{};
    for (std::size_t t = t0; t < t1; ++t) {
        const double* zt = z + t * zs + a;
        const double* yt = y + t * ys + j;
        V yv[NV];
        for (std::size_t v = 0; v < NV; ++v) yv[v] = lanes::load<V>(yt + v * W);
        for (std::size_t r = 0; r < RA; ++r) {
            const V zr = lanes::splat<V>(zt[r]);
            for (std::size_t v = 0; v < NV; ++v) acc[r][v] = acc[r][v] + zr * yv[v];
        }
    }
    for (std::size_t r = 0; r < RA; ++r)
        for (std::size_t v = 0; v < NV; ++v) lanes::store(out + (a + r) * os + j + v * W, acc[r][v]);
}

// A partial tile at the matrix edge: ra <= kTile rows, cj < 2 * kTile columns.
inline void tile_edge(const double* z, std::size_t zs, const double* y, std::size_t ys, std::size_t t0, std::size_t t1,
                      bool resume, std::size_t a, std::size_t ra, std::size_t j, std::size_t cj, double* out,
                      std::size_t os) {
    double acc[kTile][2 * kTile] = {};
    for (std::size_t r = 0; r < ra; ++r)
        for (std::size_t c = 0; c < cj; ++c) acc[r][c] = resume ? out[(a + r) * os + j + c] : 0.0;
    for (std::size_t t = t0; t < t1; ++t) {
        const double* zt = z + t * zs + a;
        const double* yt = y + t * ys + j;
        for (std::size_t r = 0; r < ra; ++r)
            for (std::size_t c = 0; c < cj; ++c) acc[r][c] += zt[r] * yt[c];
    }
    for (std::size_t r = 0; r < ra; ++r)
        for (std::size_t c = 0; c < cj; ++c) out[(a + r) * os + j + c] = acc[r][c];
}

}  // namespace detail

// out[a * os + j] = sum over t of z[t * zs + a] * y[t * ys + j], for a in
// [a0, a1) and j in [j0, j1). With `resume`, the sums carry on from the
// values in out (the samples before these, in order). Tiles are 4 rows by
// 8 columns, held as V vectors (lanes.hpp: v2 on the baseline target, v4 in
// a caller compiled for a wider one, into which these always inline).
template <class V = lanes::v2>
[[gnu::always_inline]] inline void cross(const double* z, std::size_t zs, const double* y, std::size_t ys,
                                         std::size_t rows, std::size_t a0, std::size_t a1, std::size_t j0,
                                         std::size_t j1, double* out, std::size_t os, bool resume = false) {
    using detail::kTile;
    constexpr std::size_t kCols = 2 * kTile;
    constexpr std::size_t NV = kCols / (sizeof(V) / sizeof(double));
    if (a0 >= a1 || j0 >= j1 || (rows == 0 && resume)) return;
    if (rows == 0) {
        for (std::size_t a = a0; a < a1; ++a)
            for (std::size_t j = j0; j < j1; ++j) out[a * os + j] = 0.0;
        return;
    }
    for (std::size_t t0 = 0; t0 < rows; t0 += detail::kRowBlock) {
        const std::size_t t1 = rows - t0 < detail::kRowBlock ? rows : t0 + detail::kRowBlock;
        const bool more = resume || t0 > 0;
        for (std::size_t a = a0; a < a1; a += kTile) {
            const std::size_t ra = a1 - a < kTile ? a1 - a : kTile;
            std::size_t j = j0;
            if (ra == kTile)
                for (; j + kCols <= j1; j += kCols)
                    detail::tile<V, kTile, NV>(z, zs, y, ys, t0, t1, more, a, j, out, os);
            for (; j < j1; j += kCols) {
                const std::size_t cj = j1 - j < kCols ? j1 - j : kCols;
                detail::tile_edge(z, zs, y, ys, t0, t1, more, a, ra, j, cj, out, os);
            }
        }
    }
}

// Rows [a0, a1) of the n x n Gram matrix Z^T Z of the first n columns of Z
// (out[a * os + j]): at least every entry with j >= a. A tile that straddles
// the diagonal also fills a few entries below it, with the same sums.
template <class V = lanes::v2>
[[gnu::always_inline]] inline void gram_rows(const double* z, std::size_t zs, std::size_t rows, std::size_t n,
                                             std::size_t a0, std::size_t a1, double* out, std::size_t os,
                                             bool resume = false) {
    for (std::size_t a = a0; a < a1; a += detail::kTile) {
        const std::size_t ae = a1 - a < detail::kTile ? a1 : a + detail::kTile;
        cross<V>(z, zs, z, zs, rows, a, ae, a, n, out, os, resume);
    }
}

// Copies the upper triangle of an n x n matrix (row stride os) onto the
// lower one: an entry and its mirror are the same sum.
inline void mirror_upper(double* g, std::size_t n, std::size_t os) {
    for (std::size_t a = 0; a < n; ++a)
        for (std::size_t b = a + 1; b < n; ++b) g[b * os + a] = g[a * os + b];
}

}  // namespace qel::gram
