// The nearest-neighbour records against the plain exhaustive rule, on
// embeddings large enough for the tree: random rows, rows with many exact
// ties (repeated points, equal distances), and values that leave the tree
// (NaN, huge) or its precise range (tiny differences).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "engine/embedding.hpp"

using namespace qel;
static int g_failures = 0;

static void expect(bool ok, const char* what) {
    if (!ok) std::printf("FAILED: %s\n", what), ++g_failures;
}

// Every pair, j ascending, s < best * best.
static std::vector<std::pair<double, std::size_t>> exhaustive(const std::vector<double>& x, std::size_t d) {
    const std::size_t n = x.size() / d;
    std::vector<std::pair<double, std::size_t>> out(n, {std::numeric_limits<double>::infinity(), 0});
    for (std::size_t i = 0; i < n; ++i) {
        double best = std::numeric_limits<double>::infinity();
        std::size_t idx = 0;
        for (std::size_t j = 0; j < n; ++j) {
            if (j == i) continue;
            double s = 0.0;
            for (std::size_t c = 0; c < d; ++c) {
                const double diff = x[i * d + c] - x[j * d + c];
                s = s + diff * diff;
            }
            if (s < best * best) best = std::sqrt(s), idx = j;
        }
        out[i] = {best, idx};
    }
    return out;
}

struct Lcg {
    std::uint64_t s;
    double uniform() {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(s >> 11) * 0x1p-53;
    }
};

static void check(const std::vector<double>& x, std::size_t d, const char* what) {
    auto got = embedding::nearest_neighbor_distances(x, d);
    if (!got) return expect(false, what);
    const auto want = exhaustive(x, d);
    bool same = got.value().size() == want.size();
    for (std::size_t i = 0; same && i < want.size(); ++i)
        same = std::memcmp(&got.value()[i].first, &want[i].first, sizeof(double)) == 0 &&
               got.value()[i].second == want[i].second;
    expect(same, what);
}

int main() {
    Lcg g{7};
    for (std::size_t d : {1u, 2u, 3u, 5u, 8u}) {
        const std::size_t n = 1500;
        std::vector<double> x(n * d), grid(n * d), dup(n * d), tiny(n * d);
        for (double& v : x) v = g.uniform() * 2.0 - 1.0;
        // Coarse values: many equal coordinates and equal distances.
        for (double& v : grid) v = std::floor(g.uniform() * 6.0) * 0.25;
        // Random rows, each repeated a few times at scattered places.
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t src = i % 7 == 3 ? (i * 31) % n : i;
            for (std::size_t c = 0; c < d; ++c) dup[i * d + c] = x[src * d + c];
        }
        // Differences whose squares lie in or near the subnormal range.
        for (std::size_t k = 0; k < tiny.size(); ++k)
            tiny[k] = std::floor(g.uniform() * 50.0) * (k % 2 ? 1e-157 : 1e-130);
        check(x, d, "random rows");
        check(grid, d, "rows on a coarse grid");
        check(dup, d, "repeated rows");
        check(tiny, d, "rows a tiny distance apart");
        std::vector<double> bad = x;
        bad[5] = std::numeric_limits<double>::quiet_NaN();
        bad[9] = 1e200;
        check(bad, d, "rows with NaN and huge values");
        // A small embedding stays with the plain scan; one row has no neighbour.
        check(std::vector<double>(x.begin(), x.begin() + 40 * d), d, "small embedding");
        check(std::vector<double>(x.begin(), x.begin() + d), d, "single row");
    }
    if (g_failures) return 1;
    std::puts("ok");
    return 0;
}
