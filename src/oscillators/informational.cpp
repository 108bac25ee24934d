#include "oscillators/informational.hpp"

#include <cmath>
#include <cstddef>
#include <vector>

#include "engine/util/finite.hpp"
#include "engine/util/select.hpp"
#include "engine/util/wrap.hpp"

namespace qel::informational {

EventPhase event_phase(std::span<const double> t) {
    const std::size_t n = t.size();
    if (n < 2 || !all_finite_serial(t)) return {};
    const std::size_t m = n - 1;
    const double mf = static_cast<double>(m);

    // The stamps are finite, so an interval is NaN never and infinite only
    // when the difference overflows. One pass also takes the rates and the
    // interval sum (in index order); an invalid stream discards them.
    std::vector<double> dt(m), rate(m);
    bool valid = true;
    double sum = 0.0;
    for (std::size_t i = 0; i < m; ++i) {
        const double d = t[i + 1] - t[i];
        dt[i] = d;
        rate[i] = 1.0 / d;
        sum += d;
        valid &= (d > 0.0) & (d < INFINITY);
    }
    if (!valid) return {};

    // The rates hold neither NaN nor zero, so the selected median has the
    // bits of the sorted one.
    const double omega = median_in_place(rate) * kTwoPi;

    const double span = t[n - 1] - t[0];
    if (!(span > 0.0 && span < INFINITY)) return {};

    const double mu = sum / mf;
    double ss = 0.0;
    for (double d : dt) {
        const double e = d - mu;
        ss += e * e;
    }
    const double sigma = std::sqrt(ss / mf);
    double quality = 1.0 / (sigma / mu + 1.0);
    if (quality < 0.0) quality = 0.0;
    if (quality > 1.0) quality = 1.0;

    const double theta = wrap_phase(((omega / kTwoPi) * kTwoPi) * span);
    return {theta, omega, quality};
}

}  // namespace qel::informational
