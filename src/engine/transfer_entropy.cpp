#include "engine/transfer_entropy.hpp"

#include <algorithm>
#include <cmath>
#include <span>

#include "engine/util/checked.hpp"
#include "engine/util/code_count.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/phase_bins.hpp"
#include "engine/util/pool.hpp"
#include "engine/util/pool_stop.hpp"
#include "engine/util/saturate.hpp"
#include "engine/util/shannon.hpp"
#include "engine/util/wrap.hpp"
#include "types/format.hpp"

namespace qel::transfer_entropy {

namespace {

using Codes = std::span<const std::uint64_t>;

// H(last code | the codes before it) from the non-zero cells of the joint
// table in ascending key order: conditions ascending, and within one
// condition the targets ascending, as a dense table is read. n is the number
// of target samples.
template <std::size_t K>
double entropy_given_prefix(const std::vector<code_count::Cell<K>>& cells, std::size_t n) {
    auto same_condition = [](const code_count::Key<K>& a, const code_count::Key<K>& b) {
        return std::equal(a.begin(), a.end() - 1, b.begin());
    };
    const double total = static_cast<double>(n);
    double h_sum = 0.0;
    for (std::size_t a = 0; a < cells.size();) {
        std::size_t b = a;
        std::uint64_t n_c = 0;
        while (b < cells.size() && same_condition(cells[a].key, cells[b].key)) n_c += cells[b++].count;
        if (n_c >= 2) {
            const double nc = static_cast<double>(n_c);
            const double h = shannon_sum(std::span(cells).subspan(a, b - a), nc, [](const auto& c) { return c.count; });
            h_sum = h_sum + (nc / total) * h;
        }
        a = b;
    }
    return h_sum;
}

// Number of target codes: the largest + 1.
std::uint64_t target_range(Codes target) {
    std::uint64_t top = 0;
    for (std::uint64_t c : target) top = std::max(top, c);
    return top + 1;
}

// One series' codes and the two conditional entropies of the transfer entropy
// source -> target, with f the target's next codes, y its present codes and s
// the source's present codes (all of one length).
double h_next_given_present(Codes f, Codes y, std::uint64_t n_bins, std::uint64_t k) {
    return entropy_given_prefix(code_count::count<2>({y, f}, {n_bins, k}), f.size());
}
// The joint condition is the pair (y, s), never the product y*n_bins + s,
// which could wrap; its order is that product's order.
double h_next_given_both(Codes f, Codes y, Codes s, std::uint64_t n_bins, std::uint64_t k) {
    return entropy_given_prefix(code_count::count<3>({y, s, f}, {n_bins, n_bins, k}), f.size());
}

double clamp_positive(double d) { return d > 0.0 ? d : 0.0; }

void fill_codes(std::span<const double> x, std::uint64_t n_bins, std::span<std::uint64_t> out) {
    for (std::size_t t = 0; t < out.size(); ++t) out[t] = phase_bin(x[t], n_bins);
}

}  // namespace

double conditional_entropy(std::span<const std::uint64_t> target, std::span<const std::uint64_t> condition,
                           std::uint64_t n_cond) {
    if (target.empty()) return 0.0;
    const std::uint64_t k = target_range(target);
    return entropy_given_prefix(code_count::count<2>({condition.first(std::min(condition.size(), target.size())),
                                                      target},
                                                     {n_cond, k}),
                                target.size());
}

double phase_transfer_entropy(std::span<const double> source, std::span<const double> target, std::uint64_t n_bins) {
    const std::size_t len = std::min(source.size(), target.size());
    if (n_bins == 0 || len < 3) return 0.0;
    const std::size_t n = len - 1;
    std::vector<std::uint64_t> s(n), y(n), f(n);
    fill_codes(source, n_bins, s);
    fill_codes(target, n_bins, y);
    fill_codes(target.subspan(1), n_bins, f);
    const std::uint64_t k = target_range(f);
    const double h1 = h_next_given_present(f, y, n_bins, k);
    const double h2 = h_next_given_both(f, y, s, n_bins, k);
    return clamp_positive(h1 - h2);
}

Result<std::vector<double>, PlainError> transfer_entropy_matrix(std::span<const double> phase_series,
                                                                std::uint64_t n_osc, std::uint64_t n_time,
                                                                std::uint64_t n_bins) {
    auto total = checked_mul(n_time, n_osc);
    if (!total || phase_series.size() != *total)
        return PlainError::value_error(
            text::cat("phase_series length ", phase_series.size(), " != N*T=", text::product(n_time, n_osc)));
    auto cells = checked_mul(n_osc, n_osc);
    if (!cells || !checked_mul(*cells, sizeof(double))) return InternalError("capacity overflow");
    std::vector<double> te(*cells, 0.0);
    if (n_osc == 0 || n_bins == 0 || n_time < 3) return te;

    // Codes once per oscillator; the next-given-present entropy once per
    // target (it does not depend on the source).
    const std::size_t t = n_time, n = t - 1;
    std::vector<std::uint64_t> codes(*total);
    std::vector<double> h1(n_osc);
    std::vector<std::uint64_t> k(n_osc);
    auto series_codes = [&](std::size_t i) { return Codes(codes).subspan(i * t, t); };
    const bool coded = pool::for_each_index_stoppable(n_osc, [&](std::size_t i, const pool::Stop&) {
        fill_codes(phase_series.subspan(i * t, t), n_bins, std::span(codes).subspan(i * t, t));
        const Codes c = series_codes(i);
        k[i] = target_range(c.subspan(1));
        h1[i] = h_next_given_present(c.subspan(1), c.first(n), n_bins, k[i]);
    });
    if (!coded) return interrupted_error();
    const bool done = pool::for_each_index_stoppable(n_osc, [&](std::size_t i, const pool::Stop& stop) {
        const Codes s = series_codes(i).first(n);
        for (std::size_t j = 0; j < n_osc; ++j) {
            if (j == i) continue;
            if (stop()) return;
            const Codes c = series_codes(j);
            te[i * n_osc + j] = clamp_positive(h1[j] - h_next_given_both(c.subspan(1), c.first(n), s, n_bins, k[j]));
        }
    });
    if (!done) return interrupted_error();
    return te;
}

}  // namespace qel::transfer_entropy
