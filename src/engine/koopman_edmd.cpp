#include "engine/koopman_edmd.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "engine/util/checked.hpp"
#include "engine/util/gram.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"

namespace qel::koopman_edmd {

namespace {

constexpr std::size_t kSamplesPerCheck = std::size_t{1} << 14;

// A length that is k * cols, with a product beyond 64 bits matching nothing.
bool is_len(std::size_t len, std::size_t k, std::size_t cols) {
    const auto want = checked_mul(k, cols);
    return want && *want == len;
}

}  // namespace

Result<std::vector<double>, PlainError> solve_multi(std::size_t p, std::span<const double> a,
                                                    std::span<const double> b, std::size_t nrhs) {
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
                                         std::span<const double> y_lift, std::span<const double> states,
                                         std::size_t k, std::size_t n_lift, std::size_t m, std::size_t n_state,
                                         double regularisation) {
    if (k == 0 || n_lift == 0 || n_state == 0)
        return PlainError::value_error("k, n_lift and n_state must be positive");
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
    // The samples in segments, the sums resumed from one to the next, with
    // a chance to interrupt in between.
    for (std::size_t t0 = 0; t0 < k; t0 += kSamplesPerCheck) {
        if (t0 > 0 && interrupted()) return interrupted_error();
        const std::size_t rows = std::min(kSamplesPerCheck, k - t0);
        const bool resume = t0 > 0;
        const double* x = x_lift.data() + t0 * n_lift;
        const double* u = inputs.data() + t0 * m;
        const double* y = y_lift.data() + t0 * n_lift;
        gram::gram_rows(x, n_lift, rows, n_lift, 0, n_lift, g.data(), p, resume);
        if (m > 0) {
            gram::cross(x, n_lift, u, m, rows, 0, n_lift, 0, m, g.data() + n_lift, p, resume);
            gram::gram_rows(u, m, rows, m, 0, m, g.data() + n_lift * p + n_lift, p, resume);
            gram::cross(u, m, y, n_lift, rows, 0, m, 0, n_lift, r.data() + n_lift * n_lift, n_lift, resume);
        }
        gram::cross(x, n_lift, y, n_lift, rows, 0, n_lift, 0, n_lift, r.data(), n_lift, resume);
        gram::cross(x, n_lift, states.data() + t0 * n_state, n_state, rows, 0, n_lift, 0, n_state, r_state.data(),
                    n_state, resume);
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
