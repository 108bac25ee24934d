#include "engine/hodge.hpp"

#include <cmath>
#include <new>
#include <unordered_map>
#include <utility>

#include "engine/spectral.hpp"
#include "engine/util/checked.hpp"
#include "engine/util/internal_errors.hpp"
#include "types/format.hpp"

namespace qel::hodge {

namespace {

// Eigenvalues at or below this share of the largest are treated as zero.
constexpr double kRelativeCutoff = 1e-9;
// A triangle's boundary runs a -> b -> c -> a: the side a -> c is traversed backwards.
constexpr double kSideSign[3] = {1.0, 1.0, -1.0};

struct Edge {
    std::size_t s, d;
};

// Length of an n x n matrix; std::bad_alloc when it cannot exist.
std::size_t square_len(std::size_t n) {
    auto nn = buffer_len(n, n);
    if (!nn) throw std::bad_alloc();
    return *nn;
}

// Flat position row*n + col of an array of `len` values, or an error.
Result<std::size_t, PlainError> position(std::size_t row, std::size_t col, std::size_t n, std::size_t len,
                                         const char* what) {
    auto p = checked_mul(row, n);
    if (p) p = checked_add(*p, col);
    if (!p || *p >= len)
        return InternalError(
            text::cat("position ", row, "*n + ", col, " for n = ", n, " lies beyond ", what, " of length ", len));
    return *p;
}

// Endpoint checked against n before any position is formed from it.
Result<std::size_t, PlainError> endpoint(std::int64_t v, std::size_t n, std::size_t e) {
    if (v < 0 || static_cast<std::uint64_t>(v) >= n)
        return InternalError(text::cat("edge ", e, " has endpoint ", v, ", outside 0..", n - 1));
    return static_cast<std::size_t>(v);
}

struct PairHash {
    std::size_t operator()(const std::pair<std::int64_t, std::int64_t>& p) const {
        const auto a = static_cast<std::uint64_t>(p.first), b = static_cast<std::uint64_t>(p.second);
        return static_cast<std::size_t>(a * 0x9E3779B97F4A7C15ull ^ (b + 0x632BE59BD9B4E019ull + (a << 6)));
    }
};

// Edge flows f_e = (K_sd + K_ds)/2 * sin(theta_d - theta_s), every read checked.
Result<std::vector<double>, PlainError> edge_flows(std::span<const double> knm, std::span<const double> phases,
                                                   std::size_t n, std::span<const std::int64_t> edges,
                                                   std::size_t n_edges, std::vector<Edge>& ends) {
    std::vector<double> f(n_edges);
    ends.resize(n_edges);
    for (std::size_t e = 0; e < n_edges; ++e) {
        auto s = endpoint(edges[2 * e], n, e);
        if (!s) return std::move(s).error();
        auto d = endpoint(edges[2 * e + 1], n, e);
        if (!d) return std::move(d).error();
        auto sd = position(s.value(), d.value(), n, knm.size(), "knm_flat");
        if (!sd) return std::move(sd).error();
        auto ds = position(d.value(), s.value(), n, knm.size(), "knm_flat");
        if (!ds) return std::move(ds).error();
        if (d.value() >= phases.size()) return index_out_of_bounds(phases.size(), d.value());
        if (s.value() >= phases.size()) return index_out_of_bounds(phases.size(), s.value());
        const double w = (knm[sd.value()] + knm[ds.value()]) * 0.5;
        f[e] = w * std::sin(phases[d.value()] - phases[s.value()]);
        ends[e] = {s.value(), d.value()};
    }
    return f;
}

// Gradient flows phi_d - phi_s, phi the minimum-norm potential whose
// unit-weight Laplacian matches the divergence of f.
Result<std::vector<double>, PlainError> gradient_flows(std::size_t n, const std::vector<Edge>& ends,
                                                       const std::vector<double>& f) {
    const std::size_t n_edges = ends.size();
    std::vector<double> g(n_edges);
    // The potential is read only at edge endpoints.
    if (n_edges == 0) return g;
    std::vector<double> lap(square_len(n), 0.0);
    std::vector<double> div(n, 0.0);
    for (std::size_t e = 0; e < n_edges; ++e) {
        const auto [s, d] = ends[e];
        lap[s * n + s] += 1.0;
        lap[d * n + d] += 1.0;
        lap[s * n + d] -= 1.0;
        lap[d * n + s] -= 1.0;
        div[s] -= f[e];
        div[d] += f[e];
    }
    auto phi = psd_pinv_apply(lap, n, div);
    if (!phi) return std::move(phi).error();
    for (std::size_t e = 0; e < n_edges; ++e) g[e] = phi.value()[ends[e].d] - phi.value()[ends[e].s];
    return g;
}

// Curl flows from the triangle potential psi = pinv(B2^T B2) B2^T f.
Result<std::vector<double>, PlainError> curl_flows(std::span<const std::int64_t> edges,
                                                   std::span<const std::int64_t> tris, std::size_t n_tris,
                                                   const std::vector<double>& f) {
    const std::size_t n_edges = f.size();
    std::vector<double> c(n_edges, 0.0);
    if (n_tris == 0) return c;
    auto want = checked_mul(n_tris, 3);
    if (!want || tris.size() < *want)
        return InternalError(text::cat("tris_flat has ", tris.size(),
                                       " entries, fewer than the 3*n_tris that n_tris = ", n_tris, " reads"));
    // (s, d) -> edge index; a repeated pair keeps the later index.
    std::unordered_map<std::pair<std::int64_t, std::int64_t>, std::size_t, PairHash> lookup;
    lookup.reserve(n_edges);
    for (std::size_t e = 0; e < n_edges; ++e) lookup.insert_or_assign({edges[2 * e], edges[2 * e + 1]}, e);
    std::vector<std::size_t> side(3 * n_tris);
    for (std::size_t t = 0; t < n_tris; ++t) {
        const std::int64_t a = tris[3 * t], b = tris[3 * t + 1], v = tris[3 * t + 2];
        const std::pair<std::int64_t, std::int64_t> sides[3] = {{a, b}, {b, v}, {a, v}};
        for (int k = 0; k < 3; ++k) {
            auto it = lookup.find(sides[k]);
            if (it == lookup.end())
                return InternalError(text::cat("triangle ", t, " has side (", sides[k].first, ", ", sides[k].second,
                                               "), which is not a listed edge"));
            side[3 * t + k] = it->second;
        }
    }
    std::vector<double> rhs(n_tris);
    for (std::size_t t = 0; t < n_tris; ++t) {
        double v = 0.0;
        for (int k = 0; k < 3; ++k) v += kSideSign[k] * f[side[3 * t + k]];
        rhs[t] = v;
    }
    // L2 = B2^T B2, gathered edge by edge: every pair of triangle sides lying
    // on one edge adds the product of their signs. Entries are sums of +-1,
    // exact in any order, so this equals the pairwise comparison of triangles.
    std::vector<std::size_t> first(n_edges + 1, 0);  // sides of edge e: on_edge[first[e] .. first[e+1])
    for (std::size_t j = 0; j < side.size(); ++j) ++first[side[j] + 1];
    for (std::size_t e = 0; e < n_edges; ++e) first[e + 1] += first[e];
    std::vector<std::size_t> on_edge(side.size()), fill(first.begin(), first.end() - 1);
    for (std::size_t j = 0; j < side.size(); ++j) on_edge[fill[side[j]]++] = j;  // j = 3*t + k
    std::vector<double> l2(square_len(n_tris), 0.0);
    for (std::size_t e = 0; e < n_edges; ++e) {
        for (std::size_t p = first[e]; p < first[e + 1]; ++p) {
            const std::size_t i = on_edge[p];
            for (std::size_t q = first[e]; q < first[e + 1]; ++q) {
                const std::size_t j = on_edge[q];
                l2[(i / 3) * n_tris + j / 3] += kSideSign[i % 3] * kSideSign[j % 3];
            }
        }
    }
    auto psi = psd_pinv_apply(l2, n_tris, rhs);
    if (!psi) return std::move(psi).error();
    for (std::size_t t = 0; t < n_tris; ++t)
        for (int k = 0; k < 3; ++k) c[side[3 * t + k]] += kSideSign[k] * psi.value()[t];
    return c;
}

}  // namespace

Result<std::vector<double>, PlainError> psd_pinv_apply(std::span<const double> matrix, std::size_t m,
                                                       std::span<const double> b) {
    // Only the eigenpairs above the cut-off are computed: the others would
    // get a coefficient of zero.
    auto eig = spectral::symmetric_eigen_above(matrix, m, kRelativeCutoff);
    if (!eig) return std::move(eig).error();
    const std::vector<double>& lambda = eig.value().eigenvalues;
    const std::vector<double>& v = eig.value().eigenvectors;  // m x kept, row-major
    const std::size_t kept = lambda.size();
    const std::size_t nb = b.size() < m ? b.size() : m;
    // V^T b row by row of V, so that memory is read in order; each sum still
    // runs over increasing i. Rows are addressed from data(), which an empty
    // V (nothing above the cut-off: x is then zero) also has.
    std::vector<double> coef(kept, 0.0);
    for (std::size_t i = 0; i < nb; ++i) {
        const double* row = v.data() + i * kept;
        for (std::size_t k = 0; k < kept; ++k) coef[k] += b[i] * row[k];
    }
    for (std::size_t k = 0; k < kept; ++k) coef[k] /= lambda[k];
    std::vector<double> x(m);
    for (std::size_t i = 0; i < m; ++i) {
        const double* row = v.data() + i * kept;
        double s = 0.0;
        for (std::size_t k = 0; k < kept; ++k) s += coef[k] * row[k];
        x[i] = s;
    }
    return x;
}

Result<HodgeParts, PlainError> hodge_decomposition(std::span<const double> knm, std::span<const double> phases,
                                                   std::size_t n, std::span<const std::int64_t> edges,
                                                   std::size_t n_edges, std::span<const std::int64_t> tris,
                                                   std::size_t n_tris) {
    HodgeParts out;
    if (n == 0) return out;
    // Nothing sized by n_edges is allocated before the edge list is known to hold it.
    auto want = checked_mul(n_edges, 2);
    if (!want || edges.size() < *want)
        return InternalError(text::cat("edges_flat has ", edges.size(),
                                       " entries, fewer than the 2*n_edges that n_edges = ", n_edges, " reads"));
    std::vector<Edge> ends;
    auto f = edge_flows(knm, phases, n, edges, n_edges, ends);
    if (!f) return std::move(f).error();
    auto g = gradient_flows(n, ends, f.value());
    if (!g) return std::move(g).error();
    auto c = curl_flows(edges, tris, n_tris, f.value());
    if (!c) return std::move(c).error();
    const std::size_t nn = square_len(n);
    out.gradient.assign(nn, 0.0);
    out.curl.assign(nn, 0.0);
    out.harmonic.assign(nn, 0.0);
    for (std::size_t e = 0; e < n_edges; ++e) {
        const double ge = g.value()[e], ce = c.value()[e];
        const double he = (f.value()[e] - ge) - ce;
        const std::size_t sd = ends[e].s * n + ends[e].d, ds = ends[e].d * n + ends[e].s;
        out.gradient[sd] = ge;
        out.gradient[ds] = -ge;
        out.curl[sd] = ce;
        out.curl[ds] = -ce;
        out.harmonic[sd] = he;
        out.harmonic[ds] = -he;
    }
    return out;
}

}  // namespace qel::hodge
