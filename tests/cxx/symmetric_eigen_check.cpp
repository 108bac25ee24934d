// The symmetric eigen-solver as engine modules call it: sorted pairs, column k
// of the row-major result an orthonormal eigenvector, the eigenvalue-only and
// single-pair paths agreeing with it, NaN throughout for non-finite input,
// sizes checked.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "engine/spectral.hpp"
#include "expect.hpp"

using namespace qel::spectral;

// The condition itself is the text a failure prints.
#define EXPECT(ok, n) expect((ok), #ok, long(n))

static std::vector<double> symmetric(int n, unsigned seed, bool repeated) {
    std::mt19937_64 g(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> m(n * n);
    for (int r = 0; r < n; ++r)
        for (int c = 0; c <= r; ++c) m[r * n + c] = m[c * n + r] = repeated ? (r == c ? 2.0 : 0.0) : u(g);
    return m;
}

int main() {
    for (int n : {2, 3, 5, 40}) {
        for (bool repeated : {false, true}) {
            auto m = symmetric(n, 7 + n, repeated);
            auto full = symmetric_eigen(m, n);
            auto values = symmetric_eigenvalues(m, n);
            EXPECT(full.ok() && values.ok(), n);
            const auto& ev = full.value().eigenvalues;
            const auto& v = full.value().eigenvectors;
            for (int k = 0; k < n; ++k) {
                EXPECT(std::fabs(ev[k] - values.value()[k]) < 1e-13 * n, n);
                auto range = symmetric_eigenvalue_range(m, n, k, std::min(k + 1, n - 1));
                EXPECT(range.ok() && range.value().size() == std::size_t(std::min(k + 1, n - 1) - k + 1), n);
                for (std::size_t j = 0; j < range.value().size(); ++j)
                    EXPECT(std::fabs(range.value()[j] - ev[k + j]) < 1e-13 * n, n);
                auto pair = symmetric_eigenpair(m, n, k);
                EXPECT(pair.ok() && std::fabs(pair.value().value - ev[k]) < 1e-13 * n, n);
                const auto& u = pair.value().vector;
                double norm = 0.0, residual = 0.0;
                for (int r = 0; r < n; ++r) {
                    double mu = 0.0;
                    for (int c = 0; c < n; ++c) mu += m[r * n + c] * u[c];
                    residual = std::fmax(residual, std::fabs(mu - pair.value().value * u[r]));
                    norm += u[r] * u[r];
                }
                EXPECT(std::fabs(norm - 1.0) < 1e-13 && residual < 1e-12 * n, n);
            }
            for (int k = 0; k < n; ++k) {
                EXPECT(k == 0 || ev[k - 1] <= ev[k], n);
                for (int r = 0; r < n; ++r) {  // (M v_k)_r = lambda_k v_k[r]; v_k[r] at r*n + k
                    double mv = 0.0;
                    for (int c = 0; c < n; ++c) mv += m[r * n + c] * v[c * n + k];
                    EXPECT(std::fabs(mv - ev[k] * v[r * n + k]) < 1e-12 * n, n);
                }
                for (int l = 0; l < n; ++l) {
                    double dot = 0.0;
                    for (int r = 0; r < n; ++r) dot += v[r * n + k] * v[r * n + l];
                    EXPECT(std::fabs(dot - (k == l)) < 1e-12, n);
                }
            }
        }
    }
    // Pairs above a relative cut-off: the full decomposition's kept pairs, as
    // a subspace, for a rank-deficient B^T B, the zero matrix and a negative one.
    for (int rank : {0, 1, 7, 30}) {
        const int n = 30;
        std::mt19937_64 g(rank);
        std::uniform_int_distribution<int> u(-1, 1);
        std::vector<double> b(rank * n), m(n * n, 0.0);
        for (double& x : b) x = u(g);
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c)
                for (int k = 0; k < rank; ++k) m[r * n + c] += b[k * n + r] * b[k * n + c];
        for (bool negative : {false, true}) {
            if (negative)  // -(B^T B) - I: nothing is positive, so nothing is kept
                for (int r = 0; r < n; ++r)
                    for (int c = 0; c < n; ++c) m[r * n + c] = -m[r * n + c] - (r == c);
            auto full = symmetric_eigen(m, n);
            auto above = symmetric_eigen_above(m, n, 1e-9);
            EXPECT(full.ok() && above.ok(), n);
            const auto& ev = full.value().eigenvalues;
            const auto& lambda = above.value().eigenvalues;
            const auto& v = above.value().eigenvectors;
            const double tol = ev[n - 1] > 0.0 ? 1e-9 * ev[n - 1] : 0.0;
            std::size_t kept = 0;
            for (double x : ev) kept += x > tol;
            EXPECT(lambda.size() == kept && v.size() == kept * n && (!negative || kept == 0), n);
            if (lambda.size() != kept) continue;
            for (std::size_t j = 0; j < kept; ++j) EXPECT(std::fabs(lambda[j] - ev[n - kept + j]) < 1e-12 * n, n);
            for (int r = 0; r < n; ++r)  // V V^T equals the projector of the full kept eigenvectors
                for (int c = 0; c < n; ++c) {
                    double ours = 0.0, theirs = 0.0;
                    for (std::size_t j = 0; j < kept; ++j) {
                        ours += v[r * kept + j] * v[c * kept + j];
                        const std::size_t k = n - kept + j;
                        theirs += full.value().eigenvectors[r * n + k] * full.value().eigenvectors[c * n + k];
                    }
                    EXPECT(std::fabs(ours - theirs) < 1e-10, n);
                }
        }
    }
    {
        auto m = symmetric(5, 2, false);
        m[7] = NAN;
        auto above = symmetric_eigen_above(m, 5, 1e-9);
        EXPECT(above.ok() && above.value().eigenvalues.size() == 5, 5);
        for (double x : above.value().eigenvectors) EXPECT(std::isnan(x), 5);
    }
    auto one = symmetric_eigen(std::vector<double>{-3.5}, 1);
    EXPECT(one.ok() && one.value().eigenvalues[0] == -3.5 && one.value().eigenvectors[0] == 1.0, 1);
    for (double bad : {NAN, INFINITY}) {
        auto m = symmetric(6, 3, false);
        m[2 * 6 + 4] = bad;  // upper triangle, which the solver itself never reads
        auto full = symmetric_eigen(m, 6);
        EXPECT(full.ok(), 6);
        for (double x : full.value().eigenvalues) EXPECT(std::isnan(x), 6);
        for (double x : full.value().eigenvectors) EXPECT(std::isnan(x), 6);
        auto pair = symmetric_eigenpair(m, 6, 1);
        EXPECT(pair.ok() && std::isnan(pair.value().value), 6);
        for (double x : pair.value().vector) EXPECT(std::isnan(x), 6);
    }
    for (std::size_t k : {std::size_t(3), std::size_t(4)}) {
        auto pair = symmetric_eigenpair(symmetric(3, 1, false), 3, k);
        auto range = symmetric_eigenvalue_range(symmetric(3, 1, false), 3, 1, k);
        EXPECT(!pair.ok() && pair.error().internal && !range.ok() && range.error().internal, 3);
    }
    {
        auto backwards = symmetric_eigenvalue_range(symmetric(3, 1, false), 3, 2, 1);
        EXPECT(!backwards.ok() && backwards.error().internal, 3);
        auto m = symmetric(4, 1, false);
        m[5] = INFINITY;
        auto range = symmetric_eigenvalue_range(m, 4, 1, 2);
        EXPECT(range.ok() && range.value().size() == 2 && std::isnan(range.value()[0]) && std::isnan(range.value()[1]),
               4);
    }
    for (auto [len, n] :
         {std::pair<std::size_t, std::size_t>{0, 0}, {0, 1}, {3, 2}, {5, 2}, {4, std::size_t(1) << 32}}) {
        std::vector<double> m(len, 1.0);
        auto full = symmetric_eigen(m, n);
        auto values = symmetric_eigenvalues(m, n);
        auto pair = symmetric_eigenpair(m, n, 0);
        auto above = symmetric_eigen_above(m, n, 1e-9);
        EXPECT(!full.ok() && full.error().internal && !values.ok() && values.error().internal, n);
        EXPECT(!above.ok() && above.error().internal, n);
        EXPECT(!pair.ok() && pair.error().internal, n);
    }
    return failures() == 0 ? 0 : 1;
}
