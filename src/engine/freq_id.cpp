#include "engine/freq_id.hpp"

#include <cmath>

#include "engine/util/checked.hpp"
#include "engine/util/float_sort.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/pool_stop.hpp"

namespace qel::freq_id {

namespace {

// acf[l - l0] = sum over i of x[i] * x[i+l] for the lags l0 <= l < l1, each in
// i order from 0.0. Lags run innermost (vectorised across sums) and four
// consecutive i are added to a lag's sum in one visit, still in i order.
void lag_sums(const double* x, std::size_t n, std::size_t l0, std::size_t l1, double* acf) {
    for (std::size_t l = l0; l < l1; ++l) acf[l - l0] = 0.0;
    // Lag l takes i < n - l: for i <= n - l1 every lag of the block is in range.
    const std::size_t full = n - l1 + 1;  // l1 <= n/2, so full >= 1
    std::size_t i = 0;
    for (; i + 4 <= full; i += 4) {
        const double x0 = x[i], x1 = x[i + 1], x2 = x[i + 2], x3 = x[i + 3];
        const double* y = x + i;
        for (std::size_t l = l0; l < l1; ++l) {
            double s = acf[l - l0];
            s += x0 * y[l];
            s += x1 * y[l + 1];
            s += x2 * y[l + 2];
            s += x3 * y[l + 3];
            acf[l - l0] = s;
        }
    }
    for (; i < n - l0; ++i) {
        const double xi = x[i];
        const std::size_t end = n - i < l1 ? n - i : l1;
        for (std::size_t l = l0; l < end; ++l) acf[l - l0] += xi * x[i + l];
    }
}

// One channel's frequency: fs / L for the first autocorrelation peak L after
// the first zero crossing, 0.0 without one (and for fewer than 6 samples or a
// constant channel). Runs its lags on the pool; false when interrupted.
bool channel_frequency(std::span<const double> samples, double fs, double& freq) {
    freq = 0.0;
    const std::size_t n = samples.size();
    if (n < 6) return true;
    double sum = -0.0;
    for (double v : samples) sum += v;
    const double mean = sum / static_cast<double>(n);
    std::vector<double> x(n);
    double r0 = -0.0;
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = samples[i] - mean;
        r0 += x[i] * x[i];
    }
    if (r0 < 1e-15) return true;
    const std::size_t half = n / 2;
    std::vector<double> acf(half);
    constexpr std::size_t kLags = 64;  // lags per task
    const bool parallel = half > kLags && n >= (std::size_t{1} << 16) / half;
    if (!pool::for_chunks_interruptible(half, kLags, parallel, [&](std::size_t l0, std::size_t l1) {
            lag_sums(x.data(), n, l0, l1, acf.data() + l0);
        }))
        return false;
    for (double& v : acf) v /= r0;
    std::size_t start = 2;
    for (std::size_t l = 1; l < half; ++l) {
        if (acf[l] <= 0.0) {
            start = l + 1;
            break;
        }
    }
    for (std::size_t l = start; l + 2 <= half; ++l) {
        if (acf[l] > acf[l - 1] && acf[l] > 0.0 && acf[l] >= acf[l + 1]) {
            freq = fs / static_cast<double>(l);
            break;
        }
    }
    return true;
}

}  // namespace

Result<std::vector<double>, PlainError> identify_frequencies(std::span<const double> data, std::size_t n_ch,
                                                             std::size_t n_samples, double fs) {
    const std::size_t n = n_samples;
    if (n_ch == 0 || n < 3) return std::vector<double>{};
    auto need = checked_mul(n_ch, n);
    if (!need || *need > data.size()) {
        // The first channel not wholly inside data ends the call.
        const std::size_t c = data.size() / n;
        return range_end_out_of_range((c + 1) * n, data.size());
    }
    std::vector<double> freqs(n_ch);
    for (std::size_t c = 0; c < n_ch; ++c) {
        if (c > 0 && interrupted()) return interrupted_error();
        if (!channel_frequency(data.subspan(c * n, n), fs, freqs[c])) return interrupted_error();
    }
    stable_sort_ascending(freqs);
    const double tol = fs / static_cast<double>(n);
    std::vector<double> out{freqs[0]};
    for (std::size_t c = 1; c < n_ch; ++c)
        if (std::fabs(freqs[c] - out.back()) > tol) out.push_back(freqs[c]);
    return out;
}

}  // namespace qel::freq_id
