#include "engine/envelope.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/util/finite.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"
#include "engine/util/pool_stop.hpp"

namespace qel::envelope {

namespace {

constexpr std::size_t kBlock = std::size_t{1} << 16;

// On entry out[i] = c[i+1], the prefix sums of squares. Entry i >= w-1
// becomes sqrt((c[i+1] - c[i+1-w]) / w), reading c[i+1-w] = out[i-w] (0.0
// for i = w-1). Entries are rewritten from the top down, so the prefix sum a
// window reads below it is still in place; a block on the pool that starts
// at b reads the values below b from a copy taken before any block ran.
bool windows(std::span<double> out, std::size_t w) {
    const std::size_t n = out.size(), count = n - w + 1, first = w - 1;
    const double wf = static_cast<double>(w);
    auto run = [&](std::size_t b, std::size_t e, const double* below_b) {
        for (std::size_t i = e; i-- > b;) {
            const double low = i == first ? 0.0 : (i - w >= b || !below_b ? out[i - w] : below_b[i - b]);
            out[i] = std::sqrt((out[i] - low) / wf);
        }
    };
    const std::size_t n_blocks = (count + kBlock - 1) / kBlock;
    if (n_blocks < 2 || w > kBlock / 8) {
        run(first, n, nullptr);
        return true;
    }
    // Block k > 0 starts at b >= w and reads out[b-w .. b) below itself.
    const std::size_t keep = std::min(w, kBlock);
    std::vector<double> below((n_blocks - 1) * keep);
    for (std::size_t k = 1; k < n_blocks; ++k) {
        const std::size_t b = first + k * kBlock;
        std::copy_n(out.begin() + static_cast<std::ptrdiff_t>(b - w), std::min(keep, n - b),
                    below.begin() + static_cast<std::ptrdiff_t>((k - 1) * keep));
    }
    return pool::for_chunks_interruptible(count, kBlock, true, [&](std::size_t cb, std::size_t ce) {
        const std::size_t k = cb / kBlock;
        run(first + cb, first + ce, k == 0 ? nullptr : below.data() + (k - 1) * keep);
    });
}

}  // namespace

Result<void, PlainError> extract_envelope(std::span<const double> amplitudes, std::uint64_t window,
                                          std::span<double> out) {
    const std::size_t n = amplitudes.size();
    if (n == 0) return {};
    auto not_finite = [] { return PlainError::value_error("amplitudes must contain only finite values"); };
    if (window == 0 || window > n) {
        if (!all_finite_serial(amplitudes)) return not_finite();
        if (window == 0)
            std::copy(amplitudes.begin(), amplitudes.end(), out.begin());
        else
            std::fill(out.begin(), out.end(), 0.0);
        return {};
    }
    const std::size_t w = static_cast<std::size_t>(window);
    double c = 0.0;
    for (std::size_t b = 0; b < n; b += kBlock) {
        if (b > 0 && interrupted()) return interrupted_error();
        const std::size_t e = std::min(n, b + kBlock);
        for (std::size_t i = b; i < e; ++i) out[i] = c = amplitudes[i] * amplitudes[i] + c;
    }
    // A NaN or infinite sample leaves the last prefix sum non-finite; only
    // then (or when finite squares overflowed) are the samples scanned.
    if (!std::isfinite(c) && !all_finite_serial(amplitudes)) return not_finite();
    if (!windows(out, w)) return interrupted_error();
    std::fill(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(w - 1), out[w - 1]);
    return {};
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
