// Internal failures shared by the engine modules: sizes from callers' counts
// that cannot be allocated, inputs shorter than a loop would read, and a loop
// stopped by the caller. All are raised as the module's internal-error
// exception with these texts.
#pragma once
#include <cstddef>
#include <optional>

#include "engine/util/checked.hpp"
#include "types/error.hpp"
#include "types/format.hpp"

namespace qel {

// Buffers of this many 64-bit values or more are never allocated.
inline constexpr std::size_t kMaxBufferValues = std::size_t{1} << 60;

// a*b as a buffer length, or nullopt when the product overflows or reaches
// the cap ("capacity overflow").
inline std::optional<std::size_t> buffer_len(std::size_t a, std::size_t b = 1) {
    auto n = checked_mul(a, b);
    if (!n || *n >= kMaxBufferValues) return std::nullopt;
    return n;
}

inline PlainError capacity_overflow() { return PlainError::internal_error("capacity overflow"); }

// A read at `index` of a sequence of `len` values.
inline PlainError index_out_of_bounds(std::size_t len, std::size_t index) {
    return PlainError::internal_error(text::cat("index out of bounds: the len is ", len, " but the index is ", index));
}

// A slice ending at `end` of a sequence of `len` values.
inline PlainError range_end_out_of_range(std::size_t end, std::size_t len) {
    return PlainError::internal_error(
        text::cat("range end index ", end, " out of range for slice of length ", len));
}

// Returned when qel::interrupted() stopped a loop; the module reports the
// pending interrupt instead of this text.
inline PlainError interrupted_error() { return PlainError::internal_error("interrupted"); }

}  // namespace qel
