#include "engine/spectral.hpp"

// Decompositions run through LAPACK from Debian's single-threaded OpenBLAS
// (linked by its own directory, see CMakeLists.txt): one thread, so the bits
// never depend on the worker count and the solver never competes with the
// pool. Eigen remains only for matrices beyond LAPACK's 32-bit sizes.
#define EIGEN_DONT_PARALLELIZE
#if defined(EIGEN_USE_BLAS) || defined(EIGEN_USE_LAPACKE) || defined(EIGEN_USE_MKL_ALL)
#error "the Eigen fallback must use Eigen's own kernels"
#endif
#include <Eigen/Eigenvalues>

#include <climits>
#include <cmath>
#include <limits>
#include <mutex>
#include <new>
#include <numeric>

#include "engine/util/checked.hpp"
#include "engine/util/finite.hpp"
#include "engine/util/float_sort.hpp"
#include "types/format.hpp"

// Fortran LAPACK with 32-bit integers; gfortran's hidden string lengths trail.
extern "C" {
void dsyevd_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w, double* work,
             const int* lwork, int* iwork, const int* liwork, int* info, std::size_t, std::size_t);
void dsyevr_(const char* jobz, const char* range, const char* uplo, const int* n, double* a, const int* lda,
             const double* vl, const double* vu, const int* il, const int* iu, const double* abstol, int* m, double* w,
             double* z, const int* ldz, int* isuppz, double* work, const int* lwork, int* iwork, const int* liwork,
             int* info, std::size_t, std::size_t, std::size_t);
void dsytrd_(const char* uplo, const int* n, double* a, const int* lda, double* d, double* e, double* tau, double* work,
             const int* lwork, int* info, std::size_t);
void dsterf_(const int* n, double* d, double* e, int* info);
void dstemr_(const char* jobz, const char* range, const int* n, double* d, double* e, const double* vl,
             const double* vu, const int* il, const int* iu, int* m, double* w, double* z, const int* ldz,
             const int* nzc, int* isuppz, int* tryrac, double* work, const int* lwork, int* iwork, const int* liwork,
             int* info, std::size_t, std::size_t);
void dormtr_(const char* side, const char* uplo, const char* trans, const int* m, const int* n, const double* a,
             const int* lda, const double* tau, double* c, const int* ldc, double* work, const int* lwork, int* info,
             std::size_t, std::size_t, std::size_t);
int openblas_get_parallel(void);
void openblas_set_num_threads(int);
}

namespace qel::spectral {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using RowMajorMap = Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>;

Result<void, PlainError> check_square(std::span<const double> matrix, std::size_t n) {
    if (n == 0) return InternalError("symmetric_eigen needs n >= 1, got n = 0");
    auto nn = checked_mul(n, n);
    if (!nn || *nn != matrix.size())
        return InternalError(text::cat("symmetric_eigen needs n*n entries for n = ", n, ", got ", matrix.size()));
    return {};
}

// Indices of the eigenvalues in ascending order; equal values keep the
// solver's order.
std::vector<std::size_t> ascending_order(const std::vector<double>& values) {
    std::vector<std::size_t> order(values.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    stable_sort_by(std::span<std::size_t>(order), [&](std::size_t k) { return values[k]; });
    return order;
}

// Largest order whose workspace for all eigenvectors (1 + 6n + 2n^2 doubles)
// a 32-bit LAPACK count holds; larger matrices go to Eigen.
constexpr std::size_t kLapackMaxN = 32000;

// The single-threaded OpenBLAS may keep its buffers without locks: one solve
// at a time. Should a threaded build of the same library have been loaded
// first (by another module), it is held to one thread.
std::unique_lock<std::mutex> lapack_lock() {
    static std::mutex mutex;
    std::unique_lock<std::mutex> lock(mutex);
    static const bool one_thread = [] {
        if (openblas_get_parallel() != 0) openblas_set_num_threads(1);
        return true;
    }();
    (void)one_thread;
    return lock;
}

// Workspace of the sizes a LAPACK query (lwork = liwork = -1) reported.
struct Workspace {
    std::vector<double> work;
    std::vector<int> iwork;
    int lwork, liwork;
    Workspace(double wq, int iq) {
        if (!(wq >= 1.0 && wq <= static_cast<double>(INT_MAX)) || iq < 1) throw std::bad_alloc();
        lwork = static_cast<int>(wq);
        liwork = iq;
        work.resize(static_cast<std::size_t>(lwork));
        iwork.resize(static_cast<std::size_t>(liwork));
    }
};

// dsyevd on a copy of `matrix`: eigenvalues ascending into w and, for jobz
// 'V', eigenvector k as column k of the column-major `a`. The row-major lower
// triangle is LAPACK's column-major upper one. Returns LAPACK's info.
int lapack_syevd(char jobz, std::span<const double> matrix, std::size_t n, std::vector<double>& a,
                 std::vector<double>& w) {
    const int ni = static_cast<int>(n);
    a.assign(matrix.begin(), matrix.end());
    w.assign(n, 0.0);
    int info = 0, iq = 0;
    const int query = -1;
    double wq = 0.0;
    auto lock = lapack_lock();
    dsyevd_(&jobz, "U", &ni, a.data(), &ni, w.data(), &wq, &query, &iq, &query, &info, 1, 1);
    if (info != 0) return info;
    Workspace ws(wq, iq);
    dsyevd_(&jobz, "U", &ni, a.data(), &ni, w.data(), ws.work.data(), &ws.lwork, ws.iwork.data(), &ws.liwork, &info, 1,
            1);
    return info;
}

// dsyevr for the eigenpairs at 0-based ascending indices lo..hi (hi < n):
// their eigenvalues into w and, for jobz 'V', their unit eigenvectors as the
// columns of the column-major n x (hi - lo + 1) z.
int lapack_syevr_range(char jobz, std::span<const double> matrix, std::size_t n, std::size_t lo, std::size_t hi,
                       std::vector<double>& w, std::vector<double>& z) {
    const int ni = static_cast<int>(n), il = static_cast<int>(lo) + 1, iu = static_cast<int>(hi) + 1;
    const std::size_t count = hi - lo + 1;
    std::vector<double> a(matrix.begin(), matrix.end());
    std::vector<int> isuppz(2 * count);
    w.assign(n, 0.0);
    z.assign(jobz == 'V' ? n * count : 1, 0.0);
    const double unused = 0.0, abstol = 0.0;  // abstol 0: LAPACK's default tolerance
    int found = 0, info = 0, iq = 0;
    const int query = -1;
    double wq = 0.0;
    auto lock = lapack_lock();
    dsyevr_(&jobz, "I", "U", &ni, a.data(), &ni, &unused, &unused, &il, &iu, &abstol, &found, w.data(), z.data(), &ni,
            isuppz.data(), &wq, &query, &iq, &query, &info, 1, 1, 1);
    if (info != 0) return info;
    Workspace ws(wq, iq);
    dsyevr_(&jobz, "I", "U", &ni, a.data(), &ni, &unused, &unused, &il, &iu, &abstol, &found, w.data(), z.data(), &ni,
            isuppz.data(), ws.work.data(), &ws.lwork, ws.iwork.data(), &ws.liwork, &info, 1, 1, 1);
    if (info == 0 && found != static_cast<int>(count)) return 1;  // no usable result: NaN, as for a failed solve
    w.resize(count);
    return info;
}

// The eigenpairs above a cut-off, computed as such: tridiagonal reduction,
// all eigenvalues of the tridiagonal matrix (cheap) to place the cut-off,
// then only the kept eigenvectors, back-transformed. `cutoff(largest)` gives
// the cut-off; eigenvalues at or below it are left out. Fills values
// (ascending) and vectors (column-major n x count); nonzero when LAPACK
// failed, the caller then takes the full decomposition.
template <class Cutoff>
int lapack_eigen_above(std::span<const double> matrix, std::size_t n, Cutoff cutoff, std::vector<double>& values,
                       std::vector<double>& vectors) {
    const int ni = static_cast<int>(n);
    std::vector<double> a(matrix.begin(), matrix.end()), d(n), e(n, 0.0), tau(n > 1 ? n - 1 : 1);
    int info = 0;
    const int query = -1;
    double wq = 0.0;
    auto lock = lapack_lock();
    dsytrd_("U", &ni, a.data(), &ni, d.data(), e.data(), tau.data(), &wq, &query, &info, 1);
    if (info != 0) return info;
    {
        Workspace ws(wq, 1);
        dsytrd_("U", &ni, a.data(), &ni, d.data(), e.data(), tau.data(), ws.work.data(), &ws.lwork, &info, 1);
        if (info != 0) return info;
    }
    std::vector<double> all(d), off(e);
    dsterf_(&ni, all.data(), off.data(), &info);
    if (info != 0) return 1;
    const double tol = cutoff(all[n - 1]);
    std::size_t first = 0;
    while (first < n && tol >= all[first]) ++first;
    values.clear();
    vectors.clear();
    if (first == n) return 0;
    const int il = static_cast<int>(first) + 1, iu = ni;
    const double unused = 0.0;
    int found = 0, nzc = -1, tryrac = 0, iq = 0;
    std::vector<int> isuppz(2 * (n - first));
    double zq = 0.0;
    dstemr_("V", "I", &ni, d.data(), e.data(), &unused, &unused, &il, &iu, &found, all.data(), &zq, &ni, &nzc,
            isuppz.data(), &tryrac, &wq, &query, &iq, &query, &info, 1, 1);
    if (info != 0) return info;
    const std::size_t count = n - first;
    values.assign(n, 0.0);
    vectors.assign(n * count, 0.0);
    nzc = static_cast<int>(count);
    {
        Workspace ws(wq, iq);
        dstemr_("V", "I", &ni, d.data(), e.data(), &unused, &unused, &il, &iu, &found, values.data(), vectors.data(),
                &ni, &nzc, isuppz.data(), &tryrac, ws.work.data(), &ws.lwork, ws.iwork.data(), &ws.liwork, &info, 1, 1);
        if (info != 0 || found != nzc) return info != 0 ? info : 1;
    }
    values.resize(count);
    dormtr_("L", "U", "N", &ni, &nzc, a.data(), &ni, tau.data(), vectors.data(), &ni, &wq, &query, &info, 1, 1, 1);
    if (info != 0) return info;
    Workspace ws(wq, 1);
    dormtr_("L", "U", "N", &ni, &nzc, a.data(), &ni, tau.data(), vectors.data(), &ni, ws.work.data(), &ws.lwork, &info,
            1, 1, 1);
    return info;
}

// LAPACK's info < 0 names an argument it refused: a fault of ours, reported.
Result<void, PlainError> refused(const char* routine, int info, std::size_t n) {
    if (info >= 0) return {};
    return InternalError(text::cat(routine, " refused its arguments (info ", info, ") for n = ", n));
}

// Eigen's solver for orders beyond LAPACK's counts, unless the input is
// non-finite; false when no usable result came out.
bool decompose(Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd>& solver, std::span<const double> matrix, std::size_t n,
               int options) {
    if (!all_finite_serial(matrix)) return false;
    const auto en = static_cast<Eigen::Index>(n);
    // compute(), not computeDirect(): the closed forms for 2x2 and 3x3 are
    // less accurate for nearly repeated eigenvalues.
    solver.compute(RowMajorMap(matrix.data(), en, en), options);
    return solver.info() == Eigen::Success;
}

// Eigenvalues lo..hi (ascending) of a Laplacian of n > hi oscillators.
Result<std::vector<double>, PlainError> laplacian_eigenvalues(std::span<const double> knm, std::size_t n,
                                                              std::size_t lo, std::size_t hi) {
    auto lap = graph_laplacian(knm, n);
    if (!lap) return std::move(lap).error();
    return symmetric_eigenvalue_range(lap.value(), n, lo, hi);
}

}  // namespace

Result<std::vector<double>, PlainError> graph_laplacian(std::span<const double> knm, std::size_t n) {
    if (n < 2) return std::vector<double>(n, 0.0);
    // The largest index read is (n-1)*n + (n-2) = n*n - 2.
    auto nn = checked_mul(n, n);
    if (!nn || knm.size() < *nn - 1)
        return InternalError(text::cat("knm has ", knm.size(),
                                       " entries, fewer than the n*n - 1 that the Laplacian of n = ", n, " reads"));
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
    out.eigenvalues.assign(n, kNaN);
    out.eigenvectors.assign(n * n, kNaN);
    if (!all_finite_serial(matrix)) return out;
    std::vector<double> values, vectors;  // vectors column-major: column k is vector k
    if (n <= kLapackMaxN) {
        const int info = lapack_syevd('V', matrix, n, vectors, values);
        if (auto ok = refused("dsyevd", info, n); !ok) return std::move(ok).error();
        if (info != 0) return out;
    } else {
        Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver;
        if (!decompose(solver, matrix, n, Eigen::ComputeEigenvectors)) return out;
        values.assign(solver.eigenvalues().data(), solver.eigenvalues().data() + n);
        vectors.assign(solver.eigenvectors().data(), solver.eigenvectors().data() + n * n);
    }
    std::vector<std::size_t> order = ascending_order(values);
    for (std::size_t k = 0; k < n; ++k) {
        out.eigenvalues[k] = values[order[k]];
        const double* col = vectors.data() + order[k] * n;
        for (std::size_t r = 0; r < n; ++r) out.eigenvectors[r * n + k] = col[r];
    }
    return out;
}

Result<std::vector<double>, PlainError> symmetric_eigenvalues(std::span<const double> matrix, std::size_t n) {
    if (auto ok = check_square(matrix, n); !ok) return std::move(ok).error();
    if (n == 1) return std::vector<double>{matrix[0]};
    std::vector<double> values;
    if (!all_finite_serial(matrix)) return std::vector<double>(n, kNaN);
    if (n <= kLapackMaxN) {
        std::vector<double> scratch;
        const int info = lapack_syevd('N', matrix, n, scratch, values);
        if (auto ok = refused("dsyevd", info, n); !ok) return std::move(ok).error();
        if (info != 0) return std::vector<double>(n, kNaN);
    } else {
        Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver;
        if (!decompose(solver, matrix, n, Eigen::EigenvaluesOnly)) return std::vector<double>(n, kNaN);
        values.assign(solver.eigenvalues().data(), solver.eigenvalues().data() + n);
    }
    std::vector<std::size_t> order = ascending_order(values);
    std::vector<double> out(n);
    for (std::size_t k = 0; k < n; ++k) out[k] = values[order[k]];
    return out;
}

Result<std::vector<double>, PlainError> symmetric_eigenvalue_range(std::span<const double> matrix, std::size_t n,
                                                                   std::size_t lo, std::size_t hi) {
    if (auto ok = check_square(matrix, n); !ok) return std::move(ok).error();
    if (lo > hi || hi >= n)
        return InternalError(text::cat("symmetric_eigenvalue_range asks for indices ", lo, "..", hi, " of n = ", n));
    if (n == 1 || n > kLapackMaxN || !all_finite_serial(matrix)) {
        auto all = symmetric_eigenvalues(matrix, n);
        if (!all) return all;
        return std::vector<double>(all.value().begin() + static_cast<std::ptrdiff_t>(lo),
                                   all.value().begin() + static_cast<std::ptrdiff_t>(hi) + 1);
    }
    std::vector<double> w, unused;
    const int info = lapack_syevr_range('N', matrix, n, lo, hi, w, unused);
    if (auto ok = refused("dsyevr", info, n); !ok) return std::move(ok).error();
    if (info != 0) return std::vector<double>(hi - lo + 1, kNaN);
    return w;
}

Result<EigenDecomposition, PlainError> symmetric_eigen_above(std::span<const double> matrix, std::size_t n,
                                                             double relative) {
    if (auto ok = check_square(matrix, n); !ok) return std::move(ok).error();
    const auto cutoff = [relative](double largest) { return 0.0 < largest ? relative * largest : 0.0; };
    EigenDecomposition out;
    if (n > 1 && n <= kLapackMaxN && all_finite_serial(matrix)) {
        std::vector<double> values, vectors;
        if (lapack_eigen_above(matrix, n, cutoff, values, vectors) == 0) {
            const std::size_t count = values.size();
            out.eigenvectors.resize(n * count);
            for (std::size_t k = 0; k < count; ++k)
                for (std::size_t r = 0; r < n; ++r) out.eigenvectors[r * count + k] = vectors[k * n + r];
            out.eigenvalues = std::move(values);
            return out;
        }
    }
    // Sizes and inputs the reduction above does not take: the full
    // decomposition, filtered (a NaN eigenvalue fails the test and is kept).
    auto full = symmetric_eigen(matrix, n);
    if (!full) return std::move(full).error();
    const std::vector<double>& lambda = full.value().eigenvalues;
    const double tol = cutoff(lambda[n - 1]);
    std::vector<std::size_t> kept;
    for (std::size_t k = 0; k < n; ++k)
        if (!(tol >= lambda[k])) kept.push_back(k);
    out.eigenvectors.resize(n * kept.size());
    for (std::size_t j = 0; j < kept.size(); ++j) {
        out.eigenvalues.push_back(lambda[kept[j]]);
        for (std::size_t r = 0; r < n; ++r)
            out.eigenvectors[r * kept.size() + j] = full.value().eigenvectors[r * n + kept[j]];
    }
    return out;
}

Result<EigenPair, PlainError> symmetric_eigenpair(std::span<const double> matrix, std::size_t n, std::size_t k) {
    if (auto ok = check_square(matrix, n); !ok) return std::move(ok).error();
    if (k >= n) return InternalError(text::cat("symmetric_eigenpair asks for index ", k, " of n = ", n));
    EigenPair out;
    if (n == 1) {
        out.value = matrix[0];
        out.vector = {1.0};
        return out;
    }
    if (n > kLapackMaxN) {
        auto full = symmetric_eigen(matrix, n);
        if (!full) return std::move(full).error();
        out.value = full.value().eigenvalues[k];
        out.vector.resize(n);
        for (std::size_t r = 0; r < n; ++r) out.vector[r] = full.value().eigenvectors[r * n + k];
        return out;
    }
    out.value = kNaN;
    if (!all_finite_serial(matrix)) {
        out.vector.assign(n, kNaN);
        return out;
    }
    std::vector<double> w;
    const int info = lapack_syevr_range('V', matrix, n, k, k, w, out.vector);
    if (auto ok = refused("dsyevr", info, n); !ok) return std::move(ok).error();
    if (info != 0) {
        out.vector.assign(n, kNaN);
        return out;
    }
    out.value = w[0];
    return out;
}

Result<double, PlainError> fiedler_value(std::span<const double> knm, std::size_t n) {
    if (n < 2) return 0.0;
    auto ev = laplacian_eigenvalues(knm, n, 1, 1);
    if (!ev) return std::move(ev).error();
    return ev.value()[0];
}

Result<double, PlainError> spectral_gap(std::span<const double> knm, std::size_t n) {
    if (n < 3) return 0.0;
    auto ev = laplacian_eigenvalues(knm, n, 1, 2);
    if (!ev) return std::move(ev).error();
    return ev.value()[1] - ev.value()[0];
}

Result<std::vector<double>, PlainError> fiedler_vector(std::span<const double> knm, std::size_t n) {
    if (n < 2) return std::vector<double>(n, 0.0);
    auto lap = graph_laplacian(knm, n);
    if (!lap) return std::move(lap).error();
    auto pair = symmetric_eigenpair(lap.value(), n, 1);
    if (!pair) return std::move(pair).error();
    return std::move(pair).value().vector;
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
        return InternalError(text::cat("knm has ", knm.size(), " entries, fewer than the n*n that n = ", n, " needs"));
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
