// Failures that are not validation errors. Engine code reports them without
// knowing about Python; the module turns them into its own exceptions.
#pragma once
#include <cstddef>
#include <new>
#include <source_location>
#include <string>
#include <utility>

#include "types/error.hpp"  // InternalError

namespace qel {

// Thrown where a buffer cannot be had, instead of a bare std::bad_alloc, so
// that the MemoryError can say what and how large:
//     if (!p) throw AllocationFailure("stepper scratch", count * sizeof(double));
class AllocationFailure : public std::bad_alloc {
public:
    AllocationFailure(const char* item, std::size_t bytes) noexcept : item_(item), bytes_(bytes) {}
    const char* what() const noexcept override { return "allocation failed"; }
    const char* item() const noexcept { return item_; }
    std::size_t bytes() const noexcept { return bytes_; }

private:
    const char* item_;
    std::size_t bytes_;
};

}  // namespace qel
