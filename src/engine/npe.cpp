#include "engine/npe.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/util/checked.hpp"
#include "engine/util/float_sort.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"
#include "engine/util/pool_stop.hpp"
#include "engine/util/shannon.hpp"

namespace qel::npe {

namespace {

// Rows per pool task, and merge steps between two looks at Ctrl-C.
constexpr std::size_t kRows = 8;
constexpr std::size_t kCheckEvery = std::size_t{1} << 20;

// 16 bytes: all N(N-1)/2 pairs are held at once.
struct Edge {
    double d;
    std::uint32_t i, j;
};
static_assert(sizeof(Edge) == 16);

// Rows [0, n) on the pool; each row's work is independent, so the split
// changes no value.
template <class F>
bool for_rows(std::size_t n, F&& row) {
    return pool::for_chunks_interruptible(n, kRows, n > kRows, [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i) row(i);
    });
}

// Union-find with path halving and union by rank.
class Forest {
public:
    explicit Forest(std::size_t n) : parent_(n), rank_(n, 0) {
        for (std::size_t i = 0; i < n; ++i) parent_[i] = static_cast<std::uint32_t>(i);
    }
    std::uint32_t root(std::uint32_t x) {
        while (parent_[x] != x) {
            parent_[x] = parent_[parent_[x]];
            x = parent_[x];
        }
        return x;
    }
    // False when a and b were already joined.
    bool unite(std::uint32_t a, std::uint32_t b) {
        a = root(a);
        b = root(b);
        if (a == b) return false;
        if (rank_[a] >= rank_[b]) {
            parent_[b] = a;
            if (rank_[a] == rank_[b]) ++rank_[a];
        } else {
            parent_[a] = b;
        }
        return true;
    }

private:
    std::vector<std::uint32_t> parent_;
    std::vector<std::uint8_t> rank_;
};

double normalised_entropy(const std::vector<double>& bars) {
    if (bars.empty()) return 0.0;
    double total = -0.0;
    for (double b : bars) total += b;
    if (total < 1e-15) return 0.0;
    const double h = shannon_sum(bars, total);
    const auto positive = std::count_if(bars.begin(), bars.end(), [](double b) { return b > 0.0; });
    if (positive < 2) return h;
    const double log_p = std::log(static_cast<double>(positive));
    return log_p < 1e-15 ? 0.0 : h / log_p;
}

}  // namespace

double circular_distance(double a, double b) {
    const double delta = b - a;
    return std::fabs(std::atan2(std::sin(delta), std::cos(delta)));
}

Result<std::vector<double>, PlainError> phase_distance_matrix(std::span<const double> phases) {
    const std::size_t n = phases.size();
    const auto cells = buffer_len(n, n);
    if (!cells) return capacity_overflow();
    std::vector<double> m(*cells, 0.0);
    double* out = m.data();
    // The upper triangle first, then its mirror, so that no two tasks write
    // into the same cache line.
    bool ok = for_rows(n, [&](std::size_t i) {
        for (std::size_t j = i + 1; j < n; ++j) out[i * n + j] = circular_distance(phases[i], phases[j]);
    });
    ok = ok && for_rows(n, [&](std::size_t j) {
             for (std::size_t i = 0; i < j; ++i) out[j * n + i] = out[i * n + j];
         });
    if (!ok) return interrupted_error();
    return m;
}

Result<double, PlainError> compute_npe(std::span<const double> phases, double max_radius) {
    const std::size_t n = phases.size();
    if (n < 2) return 0.0;
    const auto pairs = checked_mul(n, n - 1);
    if (!pairs || !buffer_len(*pairs / 2, sizeof(Edge) / sizeof(double))) return capacity_overflow();
    std::vector<Edge> edges(*pairs / 2);
    // Row i's pairs start after the (N-1) + (N-2) + ... + (N-i) of the rows before it.
    const bool ok = for_rows(n, [&](std::size_t i) {
        Edge* e = edges.data() + (i * (2 * n - i - 1)) / 2;
        for (std::size_t j = i + 1; j < n; ++j)
            *e++ = {circular_distance(phases[i], phases[j]), static_cast<std::uint32_t>(i),
                    static_cast<std::uint32_t>(j)};
    });
    if (!ok) return interrupted_error();
    // Equal distances may come in any order: the merge lengths that follow
    // are the same values in the same order.
    sort_by_in_place(std::span<Edge>(edges), [](const Edge& e) { return e.d; });

    Forest forest(n);
    std::vector<double> bars;
    bars.reserve(n - 1);
    for (std::size_t k = 0; k < edges.size() && bars.size() + 1 < n; ++k) {
        if (k % kCheckEvery == kCheckEvery - 1 && interrupted()) return interrupted_error();
        const Edge& e = edges[k];
        if (e.d > max_radius) break;
        if (forest.unite(e.i, e.j)) bars.push_back(e.d);
    }
    return normalised_entropy(bars);
}

}  // namespace qel::npe
