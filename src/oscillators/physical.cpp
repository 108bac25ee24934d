#include "oscillators/physical.hpp"

#include <cmath>
#include <cstddef>
#include <vector>

#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"
#include "engine/util/select.hpp"
#include "engine/util/unwrap.hpp"
#include "engine/util/wrap.hpp"

namespace qel::physical {

namespace {
// Samples between two checks for an interrupt in the pass that costs most.
constexpr std::size_t kInterruptEvery = std::size_t{1} << 16;
}  // namespace

Result<PhysicalPhase, PlainError> extract_from_analytic(std::span<const double> real, std::span<const double> imag,
                                                        double sample_rate) {
    const std::size_t n = real.size();
    if (n == 0 || imag.size() != n) return PhysicalPhase{};
    const double nf = static_cast<double>(n);

    // phase: the raw angles, unwrapped in place below; freq: the moduli
    // first, the instantaneous frequencies once the quality is known.
    std::vector<double> phase(n), freq(n);
    double sum = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        if (k % kInterruptEvery == kInterruptEvery - 1 && interrupted()) return interrupted_error();
        const double x = real[k], y = imag[k];
        phase[k] = std::atan2(y, x);
        const double mod = std::sqrt(y * y + x * x);
        freq[k] = mod;
        sum += mod;
    }
    PhysicalPhase out;
    out.amplitude = sum / nf;
    out.theta = wrap_phase(phase[n - 1]);

    const double a = out.amplitude;
    if (1e-15 > a) {
        out.quality = 0.0;
    } else {
        double ss = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            const double d = freq[k] - a;
            ss += d * d;
        }
        double q = 1.0 - std::sqrt(ss / nf) / a;
        if (q < 0.0) q = 0.0;  // two steps, so that NaN passes both
        if (q > 1.0) q = 1.0;
        out.quality = q;
    }
    if (n < 2) return out;

    // Each step brought into [-pi, pi) before it is accumulated. fmod returns
    // its argument unchanged below 2pi in magnitude, which most steps are.
    for (std::size_t k = 1; k < n; ++k) {
        const double d = phase[k] - phase[k - 1];
        // Shift, one remainder, shift back: not principal_step's loop, which rounds differently.
        double r = turn_remainder(d + kPi) - kPi;
        if (r < -kPi) r += kTwoPi;
        phase[k] = phase[k - 1] + r;
    }

    freq[0] = (phase[1] - phase[0]) * sample_rate / kTwoPi;
    for (std::size_t k = 1; k + 1 < n; ++k) freq[k] = ((phase[k + 1] - phase[k - 1]) * 0.5) * sample_rate / kTwoPi;
    freq[n - 1] = (phase[n - 1] - phase[n - 2]) * sample_rate / kTwoPi;

    out.omega = median_in_place(freq) * kTwoPi;
    return out;
}

}  // namespace qel::physical
