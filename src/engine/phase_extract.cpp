#include "engine/phase_extract.hpp"

#include <cmath>
#include <cstddef>

#include "engine/util/interrupt.hpp"
#include "engine/util/pool.hpp"
#include "engine/util/wrap.hpp"

namespace qel::phase_extract {

namespace {

constexpr double kPi = 3.141592653589793;

// Each bin of a transform is its own sum in its own order, so the bins can
// run anywhere: on the pool in fixed chunks once the work is worth it, in
// batches between which the caller's thread asks whether to stop.
constexpr double kParallelMinTerms = 32768.0;
constexpr std::size_t kBatchTerms = std::size_t{1} << 22;
constexpr std::size_t kMinBatchBins = 256;

template <class F>
bool for_each_bin(std::size_t count, std::size_t terms_per_bin, F&& f) {
    if (static_cast<double>(count) * static_cast<double>(terms_per_bin) < kParallelMinTerms) {
        for (std::size_t i = 0; i < count; ++i) f(i);
        return true;
    }
    const std::size_t chunk = terms_per_bin >= 8192 ? 1 : 8192 / terms_per_bin;
    std::size_t batch = kBatchTerms / terms_per_bin;
    if (batch < kMinBatchBins) batch = kMinBatchBins;
    for (std::size_t b = 0; b < count; b += batch) {
        const std::size_t e = count - b < batch ? count : b + batch;
        pool::for_chunks(e - b, chunk, [&](std::size_t lo, std::size_t hi) {
            for (std::size_t i = lo; i < hi; ++i) f(b + i);
        });
        if (interrupted()) return false;
    }
    return true;
}

}  // namespace

Result<AnalyticPhases, PlainError> extract_phases(std::span<const double> x, double fs) {
    const std::size_t n = x.size();
    AnalyticPhases out;
    if (n < 4) return out;
    const double nf = static_cast<double>(n);
    const std::size_t m = n / 2;
    // Bins above n/2 are never observable: their analytic weight is zero (a
    // zero term leaves a sum that starts at +0.0 unchanged, bit for bit) and
    // the dominant frequency reads bins 1 to n/2 only. So neither transform
    // visits them.
    const std::size_t bins = m + 1;

    std::vector<double> xr(bins), xi(bins);
    bool done = for_each_bin(bins, n, [&](std::size_t k) {
        const double kk = static_cast<double>(k) * (-kTwoPi);
        double re = 0.0, im = 0.0;
        for (std::size_t j = 0; j < n; ++j) {
            double s, c;
            ::sincos((static_cast<double>(j) * kk) / nf, &s, &c);
            re += x[j] * c;
            im += x[j] * s;
        }
        xr[k] = re;
        xi[k] = im;
    });
    if (!done) return PlainError{"interrupted"};

    // Dominant bin: strictly greater magnitudes only, so ties keep the lowest
    // bin, NaN never wins and a silent spectrum leaves bin 1.
    double best = 0.0;
    std::size_t best_k = 1;
    for (std::size_t k = 1; k <= m; ++k) {
        const double mag = std::sqrt(xr[k] * xr[k] + xi[k] * xi[k]);
        if (mag > best) {
            best = mag;
            best_k = k;
        }
    }
    out.dominant_frequency = (fs * static_cast<double>(best_k)) / nf;

    // The analytic spectrum, in place: positive frequencies doubled, the
    // Nyquist bin of an even length kept once.
    const std::size_t doubled_to = n % 2 == 0 ? m - 1 : m;
    for (std::size_t k = 1; k <= doubled_to; ++k) {
        xr[k] = xr[k] + xr[k];
        xi[k] = xi[k] + xi[k];
    }

    // Inverse transform; Re z goes to amplitudes and Im z to phases until the
    // per-sample pass below turns them into what their names say.
    out.phases.resize(n);
    out.amplitudes.resize(n);
    out.frequencies.resize(n);
    std::vector<double> angle_step(bins);
    for (std::size_t k = 0; k < bins; ++k) angle_step[k] = static_cast<double>(k) * kTwoPi;
    const double inv_n = 1.0 / nf;
    done = for_each_bin(n, bins, [&](std::size_t t) {
        const double tf = static_cast<double>(t);
        double re = 0.0, im = 0.0;
        for (std::size_t k = 0; k < bins; ++k) {
            double s, c;
            ::sincos((angle_step[k] * tf) / nf, &s, &c);
            const double p = xr[k], q = xi[k];
            re += p * c - q * s;
            im += q * c + p * s;
        }
        out.amplitudes[t] = re * inv_n;
        out.phases[t] = im * inv_n;
    });
    if (!done) return PlainError{"interrupted"};

    std::vector<double>& u = out.frequencies;
    for (std::size_t t = 0; t < n; ++t) {
        const double re = out.amplitudes[t], im = out.phases[t];
        u[t] = std::atan2(im, re);
        out.phases[t] = wrap_phase(u[t]);
        out.amplitudes[t] = std::sqrt(re * re + im * im);
    }
    // Unwrapping by whole turns, one addition at a time. The steps stay
    // within [-pi, pi], so |u| grows by at most pi per sample and the loops
    // end; a NaN skips them.
    for (std::size_t t = 1; t < n; ++t) {
        double d = u[t] - u[t - 1];
        while (d > kPi) d += -kTwoPi;
        while (d < -kPi) d += kTwoPi;
        u[t] = u[t - 1] + d;
    }
    // Differences in place, from the end, so each still sees its unwrapped neighbour.
    for (std::size_t t = n - 1; t >= 1; --t) u[t] = ((u[t] - u[t - 1]) * fs) / kTwoPi;
    u[0] = 0.0;
    return out;
}

}  // namespace qel::phase_extract
