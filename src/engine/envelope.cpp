#include "engine/envelope.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/util/finite.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"

namespace qel::envelope {

Result<std::vector<double>, PlainError> extract_envelope(std::span<const double> amplitudes, std::uint64_t window) {
    const std::size_t n = amplitudes.size();
    if (n == 0) return std::vector<double>{};
    if (!all_finite(amplitudes)) return PlainError::value_error("amplitudes must contain only finite values");
    if (window == 0) return std::vector<double>(amplitudes.begin(), amplitudes.end());
    if (window > n) return std::vector<double>(n, 0.0);
    const std::size_t w = static_cast<std::size_t>(window);
    constexpr std::size_t kBlock = std::size_t{1} << 20;
    // The prefix sums go into out[i] = c[i+1]; the windows then overwrite it
    // from the top down, each reading c[j+w] in place and c[j] below it,
    // which is still a prefix sum.
    std::vector<double> out(n);
    double c = 0.0;
    for (std::size_t b = 0; b < n; b += kBlock) {
        if (b > 0 && interrupted()) return interrupted_error();
        const std::size_t e = std::min(n, b + kBlock);
        for (std::size_t i = b; i < e; ++i) out[i] = c = amplitudes[i] * amplitudes[i] + c;
    }
    const double wf = static_cast<double>(w);
    for (std::size_t j = n - w; j > 0; --j) out[w - 1 + j] = std::sqrt((out[w - 1 + j] - out[j - 1]) / wf);
    const double r0 = std::sqrt((out[w - 1] - 0.0) / wf);
    std::fill(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(w), r0);
    return out;
}

double modulation_depth(std::span<const double> envelope) {
    if (envelope.empty()) return 0.0;
    double hi = -std::numeric_limits<double>::infinity();
    double lo = std::numeric_limits<double>::infinity();
    for (double v : envelope) {
        if (v > hi) hi = v;
        if (v < lo) lo = v;
    }
    const double s = hi + lo;
    if (s <= 0.0) return 0.0;
    return (hi - lo) / s;
}

}  // namespace qel::envelope
