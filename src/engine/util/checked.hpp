// Size arithmetic on caller input: overflow is reported, never wrapped.
#pragma once
#include <cstddef>
#include <optional>

namespace qel {

inline std::optional<std::size_t> checked_mul(std::size_t a, std::size_t b) {
    std::size_t r;
    if (__builtin_mul_overflow(a, b, &r)) return std::nullopt;
    return r;
}

inline std::optional<std::size_t> checked_add(std::size_t a, std::size_t b) {
    std::size_t r;
    if (__builtin_add_overflow(a, b, &r)) return std::nullopt;
    return r;
}

}  // namespace qel
