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

// Buffers of this many 64-bit values or more are never allocated.
inline constexpr std::size_t kMaxBufferValues = std::size_t{1} << 60;

// a*b as a buffer length, or nullopt when the product overflows or reaches
// the cap ("capacity overflow").
inline std::optional<std::size_t> buffer_len(std::size_t a, std::size_t b = 1) {
    auto n = checked_mul(a, b);
    if (!n || *n >= kMaxBufferValues) return std::nullopt;
    return n;
}

}  // namespace qel
