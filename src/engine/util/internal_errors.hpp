// Internal failures shared by the engine modules: sizes from callers' counts
// that cannot be allocated, inputs shorter than a loop would read, and a loop
// stopped by the caller. All are raised as the module's internal-error
// exception with these texts. Each takes its caller's source location, so the
// failure report names the code that failed, not this header.
#pragma once
#include <cstddef>
#include <optional>
#include <source_location>
#include <type_traits>

#include "engine/util/checked.hpp"
#include "types/error.hpp"
#include "types/format.hpp"

namespace qel {

inline PlainError capacity_overflow(std::source_location loc = std::source_location::current()) {
    return InternalError("capacity overflow", loc);
}

// A read at `index` of a sequence of `len` values.
inline PlainError index_out_of_bounds(std::size_t len, std::size_t index,
                                      std::source_location loc = std::source_location::current()) {
    return InternalError(text::cat("index out of bounds: the len is ", len, " but the index is ", index), loc);
}

// A slice ending at `end` of a sequence of `len` values.
inline PlainError range_end_out_of_range(std::size_t end, std::size_t len,
                                         std::source_location loc = std::source_location::current()) {
    return InternalError(text::cat("range end index ", end, " out of range for slice of length ", len), loc);
}

// Returned when qel::interrupted() stopped a loop, as the loop's own error
// type; the module reports the pending interrupt instead of this text.
template <class E = PlainError>
E interrupted_error(std::source_location loc = std::source_location::current()) {
    if constexpr (std::is_same_v<E, QelError>)
        return QelError::integration_diverged("interrupted");
    else
        return InternalError("interrupted", loc);
}

}  // namespace qel
