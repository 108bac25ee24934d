#include "engine/winding.hpp"

#include <cmath>

#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"
#include "engine/util/saturate.hpp"
#include "engine/util/unwrap.hpp"
#include "engine/util/wrap.hpp"

namespace qel::winding {

namespace {

// Increments between two looks at Ctrl-C.
constexpr std::size_t kCheckEvery = std::size_t{1} << 18;

// (prev - curr) + pi reduced by 2pi into [0, 2pi), and the step pi minus that:
// reflected, not principal_step's loop, which would round differently.
inline double increment(double prev, double curr) {
    double r = turn_remainder((prev - curr) + kPi);
    if (r < 0.0) r = r + kTwoPi;
    return kPi - r;
}

}  // namespace

Result<std::vector<std::int64_t>, PlainError> winding_numbers(std::span<const double> history, std::size_t n) {
    if (n == 0) return std::vector<std::int64_t>{};
    const std::size_t t = history.size() / n;
    if (t < 2 || t * n != history.size()) return std::vector<std::int64_t>(n, 0);
    std::vector<double> total(n, 0.0);
    const std::size_t rows_per_check = kCheckEvery / n + 1;
    const double* h = history.data();
    for (std::size_t s = 1; s < t; ++s) {
        const double* prev = h + (s - 1) * n;
        const double* curr = h + s * n;
        for (std::size_t i = 0; i < n; ++i) total[i] += increment(prev[i], curr[i]);
        if (s % rows_per_check == 0 && s + 1 < t && interrupted()) return interrupted_error();
    }
    std::vector<std::int64_t> out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = to_i64_sat(std::floor(total[i] / kTwoPi));
    return out;
}

}  // namespace qel::winding
