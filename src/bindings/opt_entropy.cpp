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
    std::vector<std::int64_t> transitions(codes.size() - 1);
    for (std::size_t t = 0; t + 1 < codes.size(); ++t)
        transitions[t] = static_cast<std::int64_t>(static_cast<std::uint64_t>(codes[t]) * f +
                                                   static_cast<std::uint64_t>(codes[t + 1]));
    const double n = static_cast<double>(transitions.size());
    const auto runs = code_count::count_values(std::span<std::int64_t>(transitions));
    if (runs.size() < 2) return 0.0;
    const double h = shannon_sum(runs, n, [](const auto& run) { return run.count; });
    const double log_k = std::log(static_cast<double>(runs.size()));
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
