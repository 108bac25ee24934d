#include "engine/order_params.hpp"

#include <vector>

#include "types/format.hpp"

namespace qel::order_params {

OrderParameter order_parameter(std::span<const double> phases) {
    Accumulator acc;
    for (double x : phases) acc.add(x);
    return acc.finish();
}

QelResult<double> plv(std::span<const double> a, std::span<const double> b) {
    if (a.size() != b.size())
        return QelError::invalid_dimension(
            text::cat("PLV requires equal-length arrays, got ", a.size(), " vs ", b.size()));
    Accumulator acc;
    for (std::size_t k = 0; k < a.size(); ++k) acc.add(a[k] - b[k]);
    return acc.finish().r;
}

double layer_coherence(std::span<const double> phases, std::span<const std::uint64_t> indices) {
    Accumulator acc;
    for (std::uint64_t i : indices)
        if (i < phases.size()) acc.add(phases[i]);
    return acc.finish().r;
}

Result<double, PlainError> layer_coherence_signed(std::span<const double> phases,
                                                  std::span<const std::int64_t> indices) {
    std::vector<std::uint64_t> valid;
    valid.reserve(indices.size());
    for (std::int64_t i : indices) {
        if (i < 0) return PlainError{text::cat("invalid index ", i)};
        valid.push_back(static_cast<std::uint64_t>(i));
    }
    return layer_coherence(phases, valid);
}

void detect_regimes(std::span<const double> r, double sync_threshold, double desync_threshold,
                    std::span<std::int32_t> out) {
    for (std::size_t k = 0; k < r.size(); ++k) {
        double v = r[k];
        out[k] = v >= sync_threshold ? 2 : (v <= desync_threshold ? 0 : 1);
    }
}

}  // namespace qel::order_params
