#include "engine/attnres.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "engine/util/checked.hpp"
#include "engine/util/finite.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"
#include "engine/util/saturate.hpp"
#include "types/format.hpp"

namespace qel::attnres {

namespace {

constexpr double kNegInf = -std::numeric_limits<double>::infinity();

struct Shape {
    std::size_t d_head = 0;
    std::size_t width = 0;  // D = n_heads * d_head
};

Result<Shape, PlainError> check(std::span<const double> knm, std::span<const double> theta, std::span<const double> w_q,
                                std::span<const double> w_k, std::span<const double> w_v, std::span<const double> w_o,
                                std::size_t n, std::size_t n_heads, double temperature, double lambda) {
    auto nn = checked_mul(n, n);
    if (!nn || knm.size() != *nn)
        return PlainError::value_error(text::cat("knm length ", knm.size(), " != n*n ", text::product(n, n)));
    if (theta.size() != n) return PlainError::value_error(text::cat("theta length ", theta.size(), " != n ", n));
    if (n_heads < 1) return PlainError::value_error("n_heads must be \u2265 1");
    if (!(std::isfinite(temperature) && temperature > 0.0))
        return PlainError::value_error("temperature must be finite and > 0");
    if (lambda < 0.0) return PlainError::value_error("lambda_ must be \u2265 0");
    if (w_q.size() % n_heads != 0)
        return PlainError::value_error(text::cat("w_q length ", w_q.size(), " not divisible by n_heads ", n_heads));
    if (w_k.size() != w_q.size() || w_v.size() != w_q.size())
        return PlainError::value_error("w_k / w_v must match w_q in length");
    const std::size_t per_head = w_q.size() / n_heads;
    // n_heads * per_head is len(w_q) itself, so it cannot overflow.
    if (w_o.size() != n_heads * per_head)
        return PlainError::value_error(
            text::cat("w_o length ", w_o.size(), " != n_heads\u00b7per_head ", n_heads * per_head));
    const double root = std::sqrt(static_cast<double>(per_head) / static_cast<double>(n_heads));
    const std::size_t d_head = to_u64_sat(std::round(root));
    auto dn = checked_mul(d_head, n_heads);
    auto dnd = dn ? checked_mul(*dn, d_head) : std::nullopt;
    if (!dnd || *dnd != per_head)
        return PlainError::value_error(
            text::cat("cannot infer d_head from w_q shape: per_head=", per_head, ", n_heads=", n_heads));
    return Shape{d_head, *dn};
}

// The keys a query may attend to, and the pairs that get a similarity.
struct Mask {
    const double* knm;
    std::size_t n;
    std::int64_t block;

    // Columns [lo, hi) of row i that the band leaves.
    std::size_t lo(std::size_t i) const {
        if (block < 0) return 0;
        auto b = static_cast<std::uint64_t>(block);
        return i > b ? i - b : 0;
    }
    std::size_t hi(std::size_t i) const {
        if (block < 0) return n;
        auto b = static_cast<std::uint64_t>(block);
        return n - i > b ? i + b + 1 : n;
    }
    // Within the band already; a NaN coupling counts as present.
    bool allowed(std::size_t i, std::size_t j) const { return j != i && !(knm[i * n + j] == 0.0); }
};

// Working arrays, O(n * D) together.
struct Model {
    std::size_t n, n_heads, d_head, width;
    std::vector<double> q;       // [h][i][c]
    std::vector<double> k_t;     // [h][c][j]: keys transposed, so scores run along j
    std::vector<double> v;       // [h][j][c]
    std::vector<bool> v_finite;  // per head
};

// Q[h][i][c] = sum_r X[i][r] * w[h][r][c], each sum from 0.0 in ascending r.
// All heads at once: the weights are laid out [r][h*d_head + c], so one pass
// over r feeds D independent sums (the order within each sum is unchanged).
template <class Store>
void project(const std::vector<double>& x, std::span<const double> w, const Model& m, Store store) {
    const std::size_t dh = m.d_head, width = m.width;
    std::vector<double> wp(width * width);
    for (std::size_t h = 0; h < m.n_heads; ++h)
        for (std::size_t r = 0; r < width; ++r)
            for (std::size_t c = 0; c < dh; ++c) wp[r * width + h * dh + c] = w[(h * width + r) * dh + c];
    std::vector<double> acc(width);
    for (std::size_t i = 0; i < m.n; ++i) {
        std::fill(acc.begin(), acc.end(), 0.0);
        const double* xi = x.data() + i * width;
        for (std::size_t r = 0; r < width; ++r) {
            const double xr = xi[r];
            const double* wr = wp.data() + r * width;
            for (std::size_t k = 0; k < width; ++k) acc[k] += xr * wr[k];
        }
        for (std::size_t h = 0; h < m.n_heads; ++h)
            for (std::size_t c = 0; c < dh; ++c) store(h, i, c, acc[h * dh + c]);
    }
}

Model build_model(std::span<const double> theta, std::span<const double> w_q, std::span<const double> w_k,
                  std::span<const double> w_v, std::size_t n, std::size_t n_heads, const Shape& shape, std::size_t nd) {
    Model m{n, n_heads, shape.d_head, shape.width, {}, {}, {}, {}};
    const std::size_t width = shape.width, dh = shape.d_head;
    // Fourier features; an odd width leaves its last column at 0.
    std::vector<double> x(nd, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t f = 1; f <= width / 2; ++f) {
            const double a = static_cast<double>(f) * theta[i];
            x[i * width + 2 * (f - 1)] = std::cos(a);
            x[i * width + 2 * (f - 1) + 1] = std::sin(a);
        }
    }
    m.q.resize(nd);
    m.k_t.resize(nd);
    m.v.resize(nd);
    project(x, w_q, m, [&](std::size_t h, std::size_t i, std::size_t c, double s) { m.q[(h * n + i) * dh + c] = s; });
    project(x, w_k, m, [&](std::size_t h, std::size_t i, std::size_t c, double s) { m.k_t[(h * dh + c) * n + i] = s; });
    project(x, w_v, m, [&](std::size_t h, std::size_t i, std::size_t c, double s) { m.v[(h * n + i) * dh + c] = s; });
    m.v_finite.resize(n_heads);
    for (std::size_t h = 0; h < n_heads; ++h)
        m.v_finite[h] = all_finite_serial(std::span<const double>(m.v).subspan(h * n * dh, n * dh));
    return m;
}

// Scratch of one (head, query) row: O(n).
struct Row {
    std::vector<double> score;
    std::vector<double> weight;
};

// Head h's part of O[i] (d_head values at out): the masked softmax of the
// scores of query i, then the weighted sum of the values.
void attend(const Model& m, const Mask& mask, std::size_t h, std::size_t i, double inv_scale, Row& row, double* out) {
    const std::size_t n = m.n, dh = m.d_head;
    const std::size_t lo = mask.lo(i), hi = mask.hi(i);
    double* score = row.score.data();
    double* weight = row.weight.data();

    // Dot products Q[h][i] . K[h][j] along the band, each from 0.0 in ascending column order.
    std::fill(score + lo, score + hi, 0.0);
    const double* qi = m.q.data() + (h * n + i) * dh;
    for (std::size_t c = 0; c < dh; ++c) {
        const double qc = qi[c];
        const double* kc = m.k_t.data() + (h * dh + c) * n;
        for (std::size_t j = lo; j < hi; ++j) score[j] += qc * kc[j];
    }
    bool any = false;
    double top = kNegInf;  // keys outside the band score -inf and cannot raise it
    for (std::size_t j = lo; j < hi; ++j) {
        if (mask.allowed(i, j)) {
            any = true;
            score[j] *= inv_scale;
            if (score[j] > top) top = score[j];  // NaN never becomes the maximum
        } else {
            score[j] = kNegInf;
        }
    }
    // Softmax over the band: every key outside it has weight 0, and leaving a
    // 0 out of a sum that starts at +0.0 changes no bit.
    double sum = 0.0;
    bool weighted = false;
    if (any) {
        for (std::size_t j = lo; j < hi; ++j) {
            weight[j] = std::isfinite(score[j]) ? std::exp(score[j] - top) : 0.0;
            sum += weight[j];
        }
        if (sum > 0.0) {
            const double inv = 1.0 / sum;
            for (std::size_t j = lo; j < hi; ++j) weight[j] *= inv;
            weighted = true;
        }
    }
    // O[i][h*d_head + c] = sum over every j of A_j * V[h][j][c]. With finite
    // values a zero weight adds +-0.0 to a sum that is never -0.0, so only
    // the band of a weighted row needs visiting; a NaN or infinite value
    // reaches the sum through every zero weight, so then all j are visited.
    std::fill(out, out + dh, 0.0);
    const double* vh = m.v.data() + h * n * dh;
    if (m.v_finite[h]) {
        if (!weighted) return;
        for (std::size_t j = lo; j < hi; ++j) {
            const double a = weight[j];
            const double* vj = vh + j * dh;
            for (std::size_t c = 0; c < dh; ++c) out[c] += a * vj[c];
        }
        return;
    }
    for (std::size_t j = 0; j < n; ++j) {
        const double a = (weighted && j >= lo && j < hi) ? weight[j] : 0.0;
        const double* vj = vh + j * dh;
        for (std::size_t c = 0; c < dh; ++c) out[c] += a * vj[c];
    }
}

// Y = O * w_o for every oscillator, O formed one query row at a time.
Result<std::vector<double>, PlainError> representations(const Model& m, const Mask& mask, std::span<const double> w_o,
                                                        double temperature, std::size_t nd) {
    const std::size_t n = m.n, width = m.width, dh = m.d_head;
    std::vector<double> y(nd, 0.0);
    const double inv_scale = 1.0 / (temperature * std::sqrt(static_cast<double>(dh)));
    Row row{std::vector<double>(n), std::vector<double>(n)};
    std::vector<double> o(width);
    for (std::size_t i = 0; i < n; ++i) {
        if (interrupted()) return interrupted_error();
        for (std::size_t h = 0; h < m.n_heads; ++h) attend(m, mask, h, i, inv_scale, row, o.data() + h * dh);
        double* yi = y.data() + i * width;
        for (std::size_t r = 0; r < width; ++r) {
            const double orr = o[r];
            const double* wr = w_o.data() + r * width;
            for (std::size_t c = 0; c < width; ++c) yi[c] += orr * wr[c];
        }
    }
    return y;
}

}  // namespace

Result<std::vector<double>, PlainError> attnres_modulate(std::span<const double> knm, std::span<const double> theta,
                                                         std::span<const double> w_q, std::span<const double> w_k,
                                                         std::span<const double> w_v, std::span<const double> w_o,
                                                         std::size_t n, std::size_t n_heads, std::int64_t block_size,
                                                         double temperature, double lambda) {
    auto shape = check(knm, theta, w_q, w_k, w_v, w_o, n, n_heads, temperature, lambda);
    if (!shape) return std::move(shape).error();
    if (lambda == 0.0) return std::vector<double>(knm.begin(), knm.end());

    const std::size_t width = shape.value().width;
    auto nd = buffer_len(n, width);
    if (!nd) return capacity_overflow();
    const Mask mask{knm.data(), n, block_size};
    // With D = 0 the heads contribute nothing (every score NaN, every weight
    // 0): they are skipped, whatever their number.
    std::vector<double> y;
    if (width > 0) {
        Model model = build_model(theta, w_q, w_k, w_v, n, n_heads, shape.value(), *nd);
        auto rep = representations(model, mask, w_o, temperature, *nd);
        if (!rep) return std::move(rep).error();
        y = std::move(rep).value();
    }

    // Norms, each sum from 0.0 in ascending column order.
    std::vector<double> norm(n);
    for (std::size_t i = 0; i < n; ++i) {
        double s = 0.0;
        for (std::size_t c = 0; c < width; ++c) s += y[i * width + c] * y[i * width + c];
        norm[i] = std::sqrt(s) + 1e-12;
    }
    // Columns of Y by oscillator, so that the dot products of row i with every
    // later row run along j. The product is commutative, so S_ij == S_ji.
    std::vector<double> y_t(*nd);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t c = 0; c < width; ++c) y_t[c * n + i] = y[i * width + c];

    std::vector<double> out(knm.size(), 0.0);
    std::vector<double> dot(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (interrupted()) return interrupted_error();
        const std::size_t hi = mask.hi(i);
        std::fill(dot.begin() + static_cast<std::ptrdiff_t>(i), dot.begin() + static_cast<std::ptrdiff_t>(hi), 0.0);
        for (std::size_t c = 0; c < width; ++c) {
            const double yc = y[i * width + c];
            const double* col = y_t.data() + c * n;
            for (std::size_t j = i + 1; j < hi; ++j) dot[j] += yc * col[j];
        }
        for (std::size_t j = i + 1; j < n; ++j) {
            const double k_ij = knm[i * n + j], k_ji = knm[j * n + i];
            double s_ij = 0.0, s_ji = 0.0;
            if (j < hi) {
                const double s = (dot[j] / (norm[i] * norm[j]) + 1.0) * 0.5;
                if (mask.allowed(i, j)) s_ij = s;
                if (mask.allowed(j, i)) s_ji = s;
            }
            const double m_ij = (s_ij * lambda + 1.0) * k_ij;
            const double m_ji = (s_ji * lambda + 1.0) * k_ji;
            out[i * n + j] = (m_ij + m_ji) * 0.5;
            out[j * n + i] = (m_ji + m_ij) * 0.5;
        }
    }
    return out;
}

}  // namespace qel::attnres
