#include "engine/spectral.hpp"

// The decomposition runs on the calling thread only, with Eigen's own kernels
// (no BLAS or LAPACK back end): results must not depend on threads or on what
// else is installed.
#define EIGEN_DONT_PARALLELIZE
#if defined(EIGEN_USE_BLAS) || defined(EIGEN_USE_LAPACKE) || defined(EIGEN_USE_MKL_ALL)
#error "the symmetric eigen-solver must use Eigen's own kernels"
#endif
#include <Eigen/Eigenvalues>

#include <cmath>
#include <limits>
#include <numeric>

#include "engine/util/checked.hpp"
#include "engine/util/finite.hpp"
#include "engine/util/float_sort.hpp"
#include "types/format.hpp"

namespace qel::spectral {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using RowMajorMap =
    Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>;

Result<void, PlainError> check_square(std::span<const double> matrix, std::size_t n) {
    if (n == 0) return PlainError::internal_error("symmetric_eigen needs n >= 1, got n = 0");
    auto nn = checked_mul(n, n);
    if (!nn || *nn != matrix.size())
        return PlainError::internal_error(
            text::cat("symmetric_eigen needs n*n entries for n = ", n, ", got ", matrix.size()));
    return {};
}

// Indices of the eigenvalues in ascending order; equal values keep the
// solver's order.
std::vector<std::size_t> ascending_order(const Eigen::VectorXd& values) {
    std::vector<std::size_t> order(static_cast<std::size_t>(values.size()));
    std::iota(order.begin(), order.end(), std::size_t{0});
    stable_sort_by(std::span<std::size_t>(order),
                   [&](std::size_t k) { return values(static_cast<Eigen::Index>(k)); });
    return order;
}

// Runs the solver unless the input is non-finite; false when no usable result
// came out (the caller then reports NaN throughout).
bool decompose(Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd>& solver, std::span<const double> matrix,
               std::size_t n, int options) {
    if (!all_finite_serial(matrix)) return false;
    const auto en = static_cast<Eigen::Index>(n);
    // compute(), not computeDirect(): the closed forms for 2x2 and 3x3 are
    // less accurate for nearly repeated eigenvalues.
    solver.compute(RowMajorMap(matrix.data(), en, en), options);
    return solver.info() == Eigen::Success;
}

// Sorted eigenvalues of a Laplacian of n >= 2 oscillators.
Result<std::vector<double>, PlainError> laplacian_eigenvalues(std::span<const double> knm, std::size_t n) {
    auto lap = graph_laplacian(knm, n);
    if (!lap) return std::move(lap).error();
    return symmetric_eigenvalues(lap.value(), n);
}

}  // namespace

Result<std::vector<double>, PlainError> graph_laplacian(std::span<const double> knm, std::size_t n) {
    if (n < 2) return std::vector<double>(n, 0.0);
    // The largest index read is (n-1)*n + (n-2) = n*n - 2.
    auto nn = checked_mul(n, n);
    if (!nn || knm.size() < *nn - 1)
        return PlainError::internal_error(
            text::cat("knm has ", knm.size(), " entries, fewer than the n*n - 1 that the Laplacian of n = ", n,
                      " reads"));
    std::vector<double> lap(*nn, 0.0);
    std::vector<double> degree(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = i + 1; j < n; ++j) {
            double w = (std::fabs(knm[j * n + i]) + std::fabs(knm[i * n + j])) * 0.5;
            lap[i * n + j] = -w;
            lap[j * n + i] = -w;
            degree[i] += w;
            degree[j] += w;
        }
    }
    for (std::size_t i = 0; i < n; ++i) lap[i * n + i] = degree[i];
    return lap;
}

Result<EigenDecomposition, PlainError> symmetric_eigen(std::span<const double> matrix, std::size_t n) {
    if (auto ok = check_square(matrix, n); !ok) return std::move(ok).error();
    EigenDecomposition out;
    if (n == 1) {
        out.eigenvalues = {matrix[0]};
        out.eigenvectors = {1.0};
        return out;
    }
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver;
    if (!decompose(solver, matrix, n, Eigen::ComputeEigenvectors)) {
        out.eigenvalues.assign(n, kNaN);
        out.eigenvectors.assign(n * n, kNaN);
        return out;
    }
    const Eigen::VectorXd& values = solver.eigenvalues();
    const Eigen::MatrixXd& vectors = solver.eigenvectors();  // column-major: column k is vector k
    std::vector<std::size_t> order = ascending_order(values);
    out.eigenvalues.resize(n);
    out.eigenvectors.resize(n * n);
    for (std::size_t k = 0; k < n; ++k) {
        const auto src = static_cast<Eigen::Index>(order[k]);
        out.eigenvalues[k] = values(src);
        const double* col = vectors.col(src).data();
        for (std::size_t r = 0; r < n; ++r) out.eigenvectors[r * n + k] = col[r];
    }
    return out;
}

Result<std::vector<double>, PlainError> symmetric_eigenvalues(std::span<const double> matrix, std::size_t n) {
    if (auto ok = check_square(matrix, n); !ok) return std::move(ok).error();
    if (n == 1) return std::vector<double>{matrix[0]};
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver;
    if (!decompose(solver, matrix, n, Eigen::EigenvaluesOnly)) return std::vector<double>(n, kNaN);
    const Eigen::VectorXd& values = solver.eigenvalues();
    std::vector<std::size_t> order = ascending_order(values);
    std::vector<double> out(n);
    for (std::size_t k = 0; k < n; ++k) out[k] = values(static_cast<Eigen::Index>(order[k]));
    return out;
}

Result<double, PlainError> fiedler_value(std::span<const double> knm, std::size_t n) {
    if (n < 2) return 0.0;
    auto ev = laplacian_eigenvalues(knm, n);
    if (!ev) return std::move(ev).error();
    return ev.value()[1];
}

Result<double, PlainError> spectral_gap(std::span<const double> knm, std::size_t n) {
    if (n < 3) return 0.0;
    auto ev = laplacian_eigenvalues(knm, n);
    if (!ev) return std::move(ev).error();
    return ev.value()[2] - ev.value()[1];
}

Result<std::vector<double>, PlainError> fiedler_vector(std::span<const double> knm, std::size_t n) {
    if (n < 2) return std::vector<double>(n, 0.0);
    auto lap = graph_laplacian(knm, n);
    if (!lap) return std::move(lap).error();
    auto eig = symmetric_eigen(lap.value(), n);
    if (!eig) return std::move(eig).error();
    const std::vector<double>& vectors = eig.value().eigenvectors;
    std::vector<double> out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = vectors[i * n + 1];
    return out;
}

Result<double, PlainError> critical_coupling(std::span<const double> omegas, std::span<const double> knm,
                                             std::size_t n) {
    auto lambda2 = fiedler_value(knm, n);
    if (!lambda2) return lambda2;
    const double l2 = lambda2.value();
    if (1e-12 > l2) return std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
    double lo = std::numeric_limits<double>::infinity();
    for (double w : omegas) {
        if (std::isnan(w)) continue;
        if (w > hi) hi = w;
        if (w < lo) lo = w;
    }
    return (hi - lo) / l2;
}

Result<double, PlainError> sync_convergence_rate(std::span<const double> knm, std::size_t n, double gamma_max) {
    if (n == 0) return 0.0;
    // Decided before the decomposition: the mean below reads all n*n entries.
    auto nn = checked_mul(n, n);
    if (!nn || knm.size() < *nn)
        return PlainError::internal_error(
            text::cat("knm has ", knm.size(), " entries, fewer than the n*n that n = ", n, " needs"));
    auto lambda2 = fiedler_value(knm, n);
    if (!lambda2) return lambda2;
    double sum = 0.0;
    std::size_t count = 0;
    for (std::size_t k = 0; k < *nn; ++k) {
        if (knm[k] > 0.0) {
            sum += knm[k];
            ++count;
        }
    }
    const double mean = count == 0 ? 0.0 : sum / static_cast<double>(count);
    return ((lambda2.value() * mean) * std::cos(gamma_max)) / static_cast<double>(n);
}

}  // namespace qel::spectral
