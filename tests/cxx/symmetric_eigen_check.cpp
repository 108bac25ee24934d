// The symmetric eigen-solver as engine modules call it: sorted pairs, column k
// of the row-major result an orthonormal eigenvector, the eigenvalue-only path
// bit-identical, NaN throughout for non-finite input, sizes checked.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "engine/spectral.hpp"
#include "expect.hpp"

using namespace qel::spectral;


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
            expect(full.ok() && values.ok(), "both solvers succeed", n);
            const auto& ev = full.value().eigenvalues;
            const auto& v = full.value().eigenvectors;
            expect(std::memcmp(ev.data(), values.value().data(), n * sizeof(double)) == 0, "same eigenvalues", n);
            for (int k = 0; k < n; ++k) {
                expect(k == 0 || ev[k - 1] <= ev[k], "eigenvalues ascending", n);
                for (int r = 0; r < n; ++r) {  // (M v_k)_r = lambda_k v_k[r]; v_k[r] at r*n + k
                    double mv = 0.0;
                    for (int c = 0; c < n; ++c) mv += m[r * n + c] * v[c * n + k];
                    expect(std::fabs(mv - ev[k] * v[r * n + k]) < 1e-12 * n, "M v = lambda v", n);
                }
                for (int l = 0; l < n; ++l) {
                    double dot = 0.0;
                    for (int r = 0; r < n; ++r) dot += v[r * n + k] * v[r * n + l];
                    expect(std::fabs(dot - (k == l)) < 1e-12, "eigenvectors orthonormal", n);
                }
            }
        }
    }
    auto one = symmetric_eigen(std::vector<double>{-3.5}, 1);
    expect(one.ok() && one.value().eigenvalues[0] == -3.5 && one.value().eigenvectors[0] == 1.0, "a 1 x 1 matrix", 1);
    for (double bad : {NAN, INFINITY}) {
        auto m = symmetric(6, 3, false);
        m[2 * 6 + 4] = bad;  // upper triangle, which the solver itself never reads
        auto full = symmetric_eigen(m, 6);
        expect(full.ok(), "non-finite input still solves", 6);
        for (double x : full.value().eigenvalues) expect(std::isnan(x), "NaN eigenvalues", 6);
        for (double x : full.value().eigenvectors) expect(std::isnan(x), "NaN eigenvectors", 6);
    }
    for (auto [len, n] : {std::pair<std::size_t, std::size_t>{0, 0}, {0, 1}, {3, 2}, {5, 2}, {4, std::size_t(1) << 32}}) {
        std::vector<double> m(len, 1.0);
        auto full = symmetric_eigen(m, n);
        auto values = symmetric_eigenvalues(m, n);
        expect(!full.ok() && full.error().internal && !values.ok() && values.error().internal, "internal errors", n);
    }
    return failures() == 0 ? 0 : 1;
}
