#include "types/format.hpp"

#include <charconv>
#include <cmath>

namespace qel::text {

std::string num(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    // Fixed notation without a precision is the shortest text that
    // round-trips; the largest doubles need a little over 310 characters.
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    return std::string(buf, res.ptr);
}

}  // namespace qel::text
