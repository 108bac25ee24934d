#include "engine/phase_extract.hpp"

#include <cmath>
#include <cstddef>

#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"
#include "engine/util/pool.hpp"
#include "engine/util/unwrap.hpp"
#include "engine/util/wrap.hpp"

namespace qel::phase_extract {

namespace {

// The forward angle of bin k at sample j, (j * (k * -2pi)) / n, is exactly the
// negative of the inverse angle of bin k at sample t = j, ((k * 2pi) * t) / n,
// and sine and cosine keep that symmetry bit for bit. So one table of sines
// and cosines serves both transforms. It is built for a block of bins at a
// time, about kTableBudget entries (at least one bin), which keeps memory
// linear in n.
constexpr std::size_t kTableBudget = std::size_t{1} << 19;
// Each bin (forward) and each sample (inverse) is its own sum in its own
// order, so they run anywhere: on the pool in fixed chunks once the work is
// worth it, serially below that, with the same bits either way.
constexpr double kParallelMinTerms = 32768.0;
constexpr std::size_t kSampleChunk = 256;

template <class F>
void run_chunks(bool parallel, std::size_t count, std::size_t chunk, F&& f) {
    if (!parallel) {
        if (count > 0) f(std::size_t{0}, count);
        return;
    }
    pool::for_chunks(count, chunk, f);
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
    // the dominant frequency reads bins 1 to n/2 only. Neither transform
    // visits them.
    const std::size_t bins = m + 1;
    const bool parallel = static_cast<double>(bins) * nf >= kParallelMinTerms;
    std::size_t block = kTableBudget / n > 1 ? kTableBudget / n : 1;
    if (block > bins) block = bins;
    std::vector<double> sin_t(block * n), cos_t(block * n), hr(block), hi(block);

    // Running inverse sums per sample: Re z in amplitudes, Im z in phases,
    // until the per-sample pass below turns them into what their names say.
    out.phases.assign(n, 0.0);
    out.amplitudes.assign(n, 0.0);
    out.frequencies.resize(n);
    double* zr = out.amplitudes.data();
    double* zi = out.phases.data();

    const std::size_t doubled_to = n % 2 == 0 ? m - 1 : m;  // the Nyquist bin of an even n is kept once
    double best = 0.0;
    std::size_t best_k = 1;
    for (std::size_t k0 = 0; k0 < bins; k0 += block) {
        const std::size_t rows = bins - k0 < block ? bins - k0 : block;
        // Forward, X_k = sum over j of x_j (cos a + i sin a) with sin a = -sin(-a);
        // each row of the table is summed as it is made.
        run_chunks(parallel, rows, 1, [&](std::size_t b, std::size_t e) {
            for (std::size_t r = b; r < e; ++r) {
                const double step = static_cast<double>(k0 + r) * kTwoPi;
                double* s = sin_t.data() + r * n;
                double* c = cos_t.data() + r * n;
                double re = 0.0, im = 0.0;
                for (std::size_t j = 0; j < n; ++j) {
                    ::sincos((static_cast<double>(j) * step) / nf, &s[j], &c[j]);
                    re += x[j] * c[j];
                    im += x[j] * -s[j];
                }
                hr[r] = re;
                hi[r] = im;
            }
        });
        // Dominant bin, from the spectrum before the analytic weights: strictly
        // greater magnitudes only, so ties keep the lowest bin, NaN never wins
        // and a silent spectrum leaves bin 1.
        for (std::size_t r = 0; r < rows; ++r) {
            const std::size_t k = k0 + r;
            if (k == 0) continue;
            const double mag = std::sqrt(hr[r] * hr[r] + hi[r] * hi[r]);
            if (mag > best) {
                best = mag;
                best_k = k;
            }
            if (k <= doubled_to) {
                hr[r] = hr[r] + hr[r];
                hi[r] = hi[r] + hi[r];
            }
        }
        // Inverse: each sample's sum continues over this block's bins, in bin order.
        run_chunks(parallel, n, kSampleChunk, [&](std::size_t b, std::size_t e) {
            for (std::size_t r = 0; r < rows; ++r) {
                const double p = hr[r], q = hi[r];
                const double* c = cos_t.data() + r * n;
                const double* s = sin_t.data() + r * n;
                for (std::size_t t = b; t < e; ++t) {
                    zr[t] += p * c[t] - q * s[t];
                    zi[t] += q * c[t] + p * s[t];
                }
            }
        });
        if (interrupted()) return interrupted_error();
    }
    out.dominant_frequency = (fs * static_cast<double>(best_k)) / nf;

    const double inv_n = 1.0 / nf;
    std::vector<double>& u = out.frequencies;
    for (std::size_t t = 0; t < n; ++t) {
        const double re = zr[t] * inv_n, im = zi[t] * inv_n;
        u[t] = std::atan2(im, re);
        out.phases[t] = wrap_phase(u[t]);
        out.amplitudes[t] = std::sqrt(re * re + im * im);
    }
    // Unwrapping by whole turns, one addition at a time. The steps stay
    // within [-pi, pi], so |u| grows by at most pi per sample and the loops
    // end; a NaN skips them.
    for (std::size_t t = 1; t < n; ++t) u[t] = u[t - 1] + principal_step(u[t] - u[t - 1]);
    // Differences in place, from the end, so each still sees its unwrapped neighbour.
    for (std::size_t t = n - 1; t >= 1; --t) u[t] = ((u[t] - u[t - 1]) * fs) / kTwoPi;
    u[0] = 0.0;
    return out;
}

}  // namespace qel::phase_extract
