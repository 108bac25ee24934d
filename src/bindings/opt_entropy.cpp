// ordinal_pattern_sequence and transition_entropy, the normalised entropy of
// the transitions between consecutive ordinal patterns.
#include <cmath>

#include "bindings/frame.hpp"
#include "engine/opt_entropy.hpp"
#include "engine/util/code_count.hpp"
#include "engine/util/shannon.hpp"

namespace qel::py {

namespace {

Result<double, PlainError> transition_entropy(std::span<const double> series, std::size_t dimension,
                                              std::size_t delay) {
    // Every code is 0 there, so no transition differs from another.
    if (dimension <= 1 || delay == 0) return 0.0;
    auto r = opt_entropy::ordinal_pattern_sequence(series, dimension, delay);
    if (!r) return std::move(r).error();
    const std::vector<std::int64_t>& codes = r.value();
    if (codes.size() < 2) return 0.0;
    // dimension!, wrapping like the codes; once a product wraps to 0 it stays 0.
    std::uint64_t f = 1;
    for (std::size_t k = 2; k <= dimension && f != 0; ++k) f *= k;
    const std::size_t n_trans = codes.size() - 1;
    const double n = static_cast<double>(n_trans);
    double h = 0.0;
    std::size_t distinct = 0;
    if (dimension <= 12) {
        // Codes below 12! pair into keys below 2^63: counting the (code, next
        // code) pairs, densely when the table is small, visits the same
        // counts in the same ascending order as sorting the keys.
        const std::span<const std::uint64_t> c(reinterpret_cast<const std::uint64_t*>(codes.data()), codes.size());
        const auto cells = code_count::count<2>({c.first(n_trans), c.subspan(1)}, {f, f});
        if (cells.size() < 2) return 0.0;
        h = shannon_sum(cells, n, [](const auto& cell) { return cell.count; });
        distinct = cells.size();
    } else {
        std::vector<std::int64_t> transitions(n_trans);
        for (std::size_t t = 0; t < n_trans; ++t)
            transitions[t] = static_cast<std::int64_t>(static_cast<std::uint64_t>(codes[t]) * f +
                                                       static_cast<std::uint64_t>(codes[t + 1]));
        const auto runs = code_count::count_values(std::span<std::int64_t>(transitions));
        if (runs.size() < 2) return 0.0;
        h = shannon_sum(runs, n, [](const auto& run) { return run.count; });
        distinct = runs.size();
    }
    const double log_k = std::log(static_cast<double>(distinct));
    if (log_k < 1e-15) return 0.0;
    double e = h / log_k;
    if (e < 0.0) e = 0.0;
    if (e > 1.0) e = 1.0;
    return e;
}

}  // namespace

QEL_BINDINGS(opt_entropy) {
    m.function("ordinal_pattern_sequence", "ordinal_pattern_sequence(series, dimension=3, delay=1)", "",
               [](F64Array series, std::uint64_t dimension, std::uint64_t delay) {
                   return AsArray{opt_entropy::ordinal_pattern_sequence(series.span(), dimension, delay)};
               });
    m.function("transition_entropy", "transition_entropy(series, dimension=3, delay=1)", "",
               [](F64Array series, std::uint64_t dimension, std::uint64_t delay) {
                   return transition_entropy(series.span(), dimension, delay);
               });
}

}  // namespace qel::py
