// Finiteness and all-zero scans of input arrays. Integer bit tests, so the
// loops vectorise and no float is reassociated; arrays of couplings large
// enough to matter are scanned on the pool in fixed chunks (a yes/no answer,
// so the split cannot change it).
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "engine/util/pool.hpp"

namespace qel {

namespace finite_detail {
inline std::uint64_t bits(double x) {
    std::uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    return u;
}
// Non-zero for NaN and infinities: an all-ones exponent carries into the
// sign bit when one exponent unit is added. Plain integer adds and ors, so
// the loops below vectorise.
inline std::uint64_t nonfinite_bit(std::uint64_t u) {
    return ((u & 0x7ff0000000000000ull) + 0x0010000000000000ull) & 0x8000000000000000ull;
}
// Non-zero when some value in [b, e) is NaN or infinite.
inline std::uint64_t nonfinite_flags(const double* p, std::size_t b, std::size_t e) {
    std::uint64_t bad = 0;
    for (std::size_t i = b; i < e; ++i) bad |= nonfinite_bit(bits(p[i]));
    return bad;
}
// Large arrays (n*n couplings) are scanned in fixed chunks on the pool; the
// answer is a yes/no, so the split cannot change it.
inline constexpr std::size_t kScanChunk = std::size_t{1} << 16;
template <class Flags>
bool any_chunk(std::span<const double> v, Flags flags) {
    if (v.size() <= 2 * kScanChunk) return flags(v.data(), 0, v.size()) != 0;
    std::atomic<bool> hit{false};
    pool::for_chunks(v.size(), kScanChunk, [&](std::size_t b, std::size_t e) {
        if (flags(v.data(), b, e) != 0) hit.store(true, std::memory_order_relaxed);
    });
    return hit.load();
}
}  // namespace finite_detail

// Every value is neither NaN nor infinite.
inline bool all_finite(std::span<const double> v) {
    return !finite_detail::any_chunk(v, finite_detail::nonfinite_flags);
}
// As all_finite, on the calling thread only, for steppers that stay off the pool.
inline bool all_finite_serial(std::span<const double> v) {
    return finite_detail::nonfinite_flags(v.data(), 0, v.size()) == 0;
}

// Whether every value is finite, and whether every value compares equal to
// 0.0 (-0.0 included), from one pass over v.
struct FiniteZero {
    bool finite = true;
    bool zero = true;
};
inline FiniteZero scan_finite_zero(std::span<const double> v) {
    auto scan = [](const double* p, std::size_t b, std::size_t e) {
        std::uint64_t bad = 0, any = 0;
        for (std::size_t i = b; i < e; ++i) {
            std::uint64_t u = finite_detail::bits(p[i]);
            bad |= finite_detail::nonfinite_bit(u);
            any |= u << 1;  // the sign bit drops out: -0.0 counts as zero
        }
        return FiniteZero{bad == 0, any == 0};
    };
    if (v.size() <= 2 * finite_detail::kScanChunk) return scan(v.data(), 0, v.size());
    std::atomic<bool> nonfinite{false}, nonzero{false};
    pool::for_chunks(v.size(), finite_detail::kScanChunk, [&](std::size_t b, std::size_t e) {
        FiniteZero r = scan(v.data(), b, e);
        if (!r.finite) nonfinite.store(true, std::memory_order_relaxed);
        if (!r.zero) nonzero.store(true, std::memory_order_relaxed);
    });
    return FiniteZero{!nonfinite.load(), !nonzero.load()};
}

}  // namespace qel
