// Spectral measures of a coupling graph: its Laplacian (absolute, symmetrised
// weights), an ordered symmetric eigen-decomposition, and the quantities read
// from the lowest Laplacian eigenpairs.
#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::spectral {

// Eigenvalues ascending; eigenvectors row-major n x n, column k (entries
// r*n + k) the unit eigenvector of eigenvalues[k].
struct EigenDecomposition {
    std::vector<double> eigenvalues;
    std::vector<double> eigenvectors;
};

// L_ij = -(|K_ij| + |K_ji|) / 2 off the diagonal, L_ii the row's weight sum.
// The diagonal of knm is never read, so n*n - 1 entries suffice; a shorter
// knm is an internal error, reported before anything is allocated.
Result<std::vector<double>, PlainError> graph_laplacian(std::span<const double> knm, std::size_t n);

// Decomposition of the symmetric n x n matrix held row-major in `matrix`
// (exactly n*n entries, n >= 1; anything else is an internal error). Only the
// lower triangle is read. Non-finite input, or a decomposition that does not
// converge, gives all-NaN eigenvalues and eigenvectors. Equal eigenvalues keep
// the solver's order; eigenvector signs are the solver's.
Result<EigenDecomposition, PlainError> symmetric_eigen(std::span<const double> matrix, std::size_t n);

// As symmetric_eigen, eigenvalues only (the same values up to the last bits),
// without the cost of computing eigenvectors.
Result<std::vector<double>, PlainError> symmetric_eigenvalues(std::span<const double> matrix, std::size_t n);

// Eigenvalues lo..hi (0-based, ascending, inclusive) of symmetric_eigen's
// matrix, without computing the others; lo > hi or hi >= n is an internal
// error. NaN throughout for non-finite input.
Result<std::vector<double>, PlainError> symmetric_eigenvalue_range(std::span<const double> matrix, std::size_t n,
                                                                   std::size_t lo, std::size_t hi);

// The eigenpairs of symmetric_eigen's matrix whose eigenvalue exceeds
// `relative` times the largest one (exceeds 0 when the largest is not
// positive; NaN eigenvalues are kept), without computing the others:
// `eigenvalues` the count of them ascending, `eigenvectors` row-major
// n x count, column j (entries r*count + j) belonging to eigenvalues[j].
Result<EigenDecomposition, PlainError> symmetric_eigen_above(std::span<const double> matrix, std::size_t n,
                                                             double relative);

// Eigenvalue k (0-based, ascending) of symmetric_eigen's matrix and its unit
// eigenvector, without computing the others. k >= n is an internal error.
struct EigenPair {
    double value = 0.0;
    std::vector<double> vector;
};
Result<EigenPair, PlainError> symmetric_eigenpair(std::span<const double> matrix, std::size_t n, std::size_t k);

// Second-smallest Laplacian eigenvalue, unclamped; 0.0 for n < 2 (knm unread).
Result<double, PlainError> fiedler_value(std::span<const double> knm, std::size_t n);

// Third minus second Laplacian eigenvalue; 0.0 for n < 3.
Result<double, PlainError> spectral_gap(std::span<const double> knm, std::size_t n);

// Eigenvector of the second Laplacian eigenvalue (solver's sign); n zeros for n < 2.
Result<std::vector<double>, PlainError> fiedler_vector(std::span<const double> knm, std::size_t n);

// (max - min of the non-NaN omegas) / lambda2; +inf when lambda2 < 1e-12.
Result<double, PlainError> critical_coupling(std::span<const double> omegas, std::span<const double> knm,
                                             std::size_t n);

// lambda2 * (mean positive entry of all n*n couplings) * cos(gamma_max) / n;
// needs n*n entries of knm; 0.0 for n = 0.
Result<double, PlainError> sync_convergence_rate(std::span<const double> knm, std::size_t n, double gamma_max);

}  // namespace qel::spectral
