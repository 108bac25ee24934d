// Hodge decomposition of the coupling flow on a caller-given complex of
// oscillators, oriented edges and triangles: gradient, curl and harmonic parts.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::hodge {

// V diag(1/lambda_k for lambda_k > 1e-9 * lambda_max, else 0) V^T b for the
// symmetric positive semidefinite m x m `matrix` (row-major, m >= 1): the
// minimum-norm least-squares solution. Only the first min(m, len(b)) entries
// of b are read. Errors are those of the eigen-solver.
Result<std::vector<double>, PlainError> psd_pinv_apply(std::span<const double> matrix, std::size_t m,
                                                       std::span<const double> b);

// Three flat n x n matrices, antisymmetric on the listed edges, zero elsewhere.
struct HodgeParts {
    std::vector<double> gradient;
    std::vector<double> curl;
    std::vector<double> harmonic;
};

// Edge e runs from edges[2e] to edges[2e+1]; triangle t is (tris[3t],
// tris[3t+1], tris[3t+2]) with sides (a, b), (b, c) and (a, c), each of
// which must be a listed edge in that orientation (a repeated edge: the
// later one). n = 0 reads nothing and gives three empty matrices. Short
// arrays, endpoints outside 0..n-1, reads beyond knm or phases and missing
// triangle sides are internal errors; matrices too large to allocate throw
// std::bad_alloc.
Result<HodgeParts, PlainError> hodge_decomposition(std::span<const double> knm, std::span<const double> phases,
                                                   std::size_t n, std::span<const std::int64_t> edges,
                                                   std::size_t n_edges, std::span<const std::int64_t> tris,
                                                   std::size_t n_tris);

}  // namespace qel::hodge
