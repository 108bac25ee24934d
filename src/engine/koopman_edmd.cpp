// The four-lane vectors below only travel between functions inlined into one
// clone, so the note that their calling convention differs with AVX does not
// concern us.
#pragma GCC diagnostic ignored "-Wpsabi"
#include "engine/koopman_edmd.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "engine/util/checked.hpp"
#include "engine/util/gram.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"
#include "engine/util/lanes.hpp"
#include "engine/util/pool.hpp"

namespace qel::koopman_edmd {

namespace {

// Samples per pool loop: every tile takes the same block while it is in the
// shared cache, rather than each tile streaming all samples from memory.
constexpr std::size_t kSamplesPerBlock = 512;

// A length that is k * cols, with a product beyond 64 bits matching nothing.
bool is_len(std::size_t len, std::size_t k, std::size_t cols) {
    const auto want = checked_mul(k, cols);
    return want && *want == len;
}

// One segment of samples [t0, t0 + rows) and the sums it adds to.
struct Segment {
    const double *x, *u, *y, *s;  // first sample of the segment
    std::size_t rows, n_lift, m, n_state, p;
    bool resume;
    double *g, *r, *r_state;
};

// The sums of one segment for one tile of four regressor rows: the first
// tiles take rows of x (its part of G's upper triangle, its row of the x-u
// block, R and R2), the rest rows of u (the upper triangle of the u-u block
// and the u rows of R). A tile writes only its own rows, each entry its own
// sum in sample order, so the tiles may run in any order on any worker. A
// second copy for processors with AVX2 keeps four lanes per vector (no fused
// multiply-add: every product is rounded before it is added).
__attribute__((target_clones("avx2", "default"))) void segment_tile(const Segment& sg, std::size_t tile) {
    using lanes::v4;
    const std::size_t n = sg.n_lift, m = sg.m, p = sg.p, x_tiles = (n + 3) / 4;
    if (tile < x_tiles) {
        const std::size_t a0 = tile * 4, a1 = std::min(a0 + 4, n);
        gram::gram_rows<v4>(sg.x, n, sg.rows, n, a0, a1, sg.g, p, sg.resume);
        if (m > 0) gram::cross<v4>(sg.x, n, sg.u, m, sg.rows, a0, a1, 0, m, sg.g + n, p, sg.resume);
        gram::cross<v4>(sg.x, n, sg.y, n, sg.rows, a0, a1, 0, n, sg.r, n, sg.resume);
        gram::cross<v4>(sg.x, n, sg.s, sg.n_state, sg.rows, a0, a1, 0, sg.n_state, sg.r_state, sg.n_state, sg.resume);
    } else {
        const std::size_t b0 = (tile - x_tiles) * 4, b1 = std::min(b0 + 4, m);
        gram::gram_rows<v4>(sg.u, m, sg.rows, m, b0, b1, sg.g + n * p + n, p, sg.resume);
        gram::cross<v4>(sg.u, m, sg.y, n, sg.rows, b0, b1, 0, n, sg.r + n * n, n, sg.resume);
    }
}

}  // namespace

Result<std::vector<double>, PlainError> solve_multi(std::size_t p, std::span<const double> a, std::span<const double> b,
                                                    std::size_t nrhs) {
    const auto width = checked_add(p, nrhs);
    if (!width) return capacity_overflow();
    const auto cells = buffer_len(p, *width);
    const auto out_len = buffer_len(p, nrhs);
    if (!cells || !out_len) return capacity_overflow();
    if (a.size() < p * p) return index_out_of_bounds(a.size(), p * p);
    if (b.size() < *out_len) return index_out_of_bounds(b.size(), *out_len);
    const std::size_t w = *width;
    std::vector<double> mat(*cells, 0.0);
    for (std::size_t i = 0; i < p; ++i) {
        for (std::size_t j = 0; j < p; ++j) mat[i * w + j] = a[i * p + j];
        for (std::size_t j = 0; j < nrhs; ++j) mat[i * w + p + j] = b[i * nrhs + j];
    }
    for (std::size_t c = 0; c < p; ++c) {
        // A pivot step costs p * (p + nrhs) operations: at the largest sizes a
        // few milliseconds, so Ctrl-C is seen well within a second.
        if (c > 0 && interrupted()) return interrupted_error();
        std::size_t piv = c;
        double best = std::fabs(mat[c * w + c]);
        for (std::size_t r = c + 1; r < p; ++r) {
            const double v = std::fabs(mat[r * w + c]);
            if (v > best) {
                best = v;
                piv = r;
            }
        }
        if (best == 0.0) return PlainError::value_error("singular system in Koopman EDMD solve");
        if (piv != c)
            for (std::size_t col = 0; col < w; ++col) std::swap(mat[c * w + col], mat[piv * w + col]);
        const double* pr = mat.data() + c * w;
        for (std::size_t r = 0; r < p; ++r) {
            if (r == c) continue;
            double* row = mat.data() + r * w;
            const double factor = row[c] / pr[c];
            if (factor == 0.0) continue;
            for (std::size_t col = c; col < w; ++col) row[col] -= pr[col] * factor;
        }
    }
    std::vector<double> x(*out_len);
    for (std::size_t i = 0; i < p; ++i)
        for (std::size_t j = 0; j < nrhs; ++j) x[i * nrhs + j] = mat[i * w + p + j] / mat[i * w + i];
    return x;
}

Result<Operators, PlainError> edmd_solve(std::span<const double> x_lift, std::span<const double> inputs,
                                         std::span<const double> y_lift, std::span<const double> states, std::size_t k,
                                         std::size_t n_lift, std::size_t m, std::size_t n_state,
                                         double regularisation) {
    if (k == 0 || n_lift == 0 || n_state == 0) return PlainError::value_error("k, n_lift and n_state must be positive");
    if (!is_len(x_lift.size(), k, n_lift)) return PlainError::value_error("x_lift has an inconsistent length");
    if (y_lift.size() != x_lift.size()) return PlainError::value_error("y_lift has an inconsistent length");
    if (!is_len(inputs.size(), k, m)) return PlainError::value_error("inputs has an inconsistent length");
    if (!is_len(states.size(), k, n_state)) return PlainError::value_error("states has an inconsistent length");
    if (!std::isfinite(regularisation) || regularisation < 0.0)
        return PlainError::value_error("regularisation must be finite and non-negative");

    // n_lift and m are at most the lengths of their arrays, so p fits; the
    // p x p and p x n_lift matrices may not.
    const std::size_t p = n_lift + m;
    const auto gp = buffer_len(p, p);
    const auto rp = buffer_len(p, n_lift);
    const auto g2 = buffer_len(n_lift, n_lift);
    const auto r2 = buffer_len(n_lift, n_state);
    if (!gp || !rp || !g2 || !r2) return capacity_overflow();

    // Blocks of G = Z^T Z and R = Z^T Y for z_t = [x_t | u_t]. Each entry is
    // its own sum over the samples in order, so the upper-left block of G is
    // also the Gram matrix of the second regression, and the lower triangle
    // of G the mirror of the upper one.
    std::vector<double> g(*gp), r(*rp), g_state(*g2), r_state(*r2);
    // The samples in blocks, the sums resumed from one to the next, with a
    // chance to interrupt in between; within a block the tiles run on the
    // pool.
    const std::size_t tiles = (n_lift + 3) / 4 + (m + 3) / 4;
    for (std::size_t t0 = 0; t0 < k; t0 += kSamplesPerBlock) {
        if (t0 > 0 && interrupted()) return interrupted_error();
        const Segment sg{x_lift.data() + t0 * n_lift,
                         inputs.data() + t0 * m,
                         y_lift.data() + t0 * n_lift,
                         states.data() + t0 * n_state,
                         std::min(kSamplesPerBlock, k - t0),
                         n_lift,
                         m,
                         n_state,
                         p,
                         t0 > 0,
                         g.data(),
                         r.data(),
                         r_state.data()};
        pool::for_each_index(tiles, [&](std::size_t tile) { segment_tile(sg, tile); });
    }
    gram::mirror_upper(g.data(), p, p);
    for (std::size_t a = 0; a < n_lift; ++a)
        for (std::size_t b = 0; b < n_lift; ++b) g_state[a * n_lift + b] = g[a * p + b];
    for (std::size_t a = 0; a < p; ++a) g[a * p + a] += regularisation;
    for (std::size_t a = 0; a < n_lift; ++a) g_state[a * n_lift + a] += regularisation;

    auto sol = solve_multi(p, g, r, n_lift);
    if (!sol) return std::move(sol).error();
    const std::vector<double>& xs = sol.value();
    Operators ops;
    ops.a.resize(*g2);
    ops.b.resize(n_lift * m);
    for (std::size_t i = 0; i < n_lift; ++i)
        for (std::size_t j = 0; j < n_lift; ++j) ops.a[i * n_lift + j] = xs[j * n_lift + i];
    for (std::size_t i = 0; i < n_lift; ++i)
        for (std::size_t c = 0; c < m; ++c) ops.b[i * m + c] = xs[(n_lift + c) * n_lift + i];
    auto w = solve_multi(n_lift, g_state, r_state, n_state);
    if (!w) return std::move(w).error();
    const std::vector<double>& ws = w.value();
    ops.c.resize(n_state * n_lift);
    for (std::size_t i = 0; i < n_state; ++i)
        for (std::size_t j = 0; j < n_lift; ++j) ops.c[i * n_lift + j] = ws[j * n_state + i];
    return ops;
}

}  // namespace qel::koopman_edmd
