// Float-to-integer conversions that saturate instead of invoking undefined
// behaviour: NaN gives 0, values beyond the range give the nearest limit.
#pragma once
#include <cmath>
#include <cstdint>
#include <limits>

namespace qel {

// Truncates toward zero; NaN and negatives give 0, 2^64 and above the largest value.
inline std::uint64_t to_u64_sat(double x) {
    if (!(x > 0.0)) return 0;
    if (x >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(x);
}

// Truncates toward zero; NaN gives 0, values beyond the range the nearest limit.
inline std::int64_t to_i64_sat(double x) {
    if (std::isnan(x)) return 0;
    if (x >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (x < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(x);
}

}  // namespace qel
