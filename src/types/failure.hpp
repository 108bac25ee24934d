// Failures that are not validation errors. Engine code reports them without
// knowing about Python; the module turns them into its own exceptions.
#pragma once
#include <cstddef>
#include <new>
#include <source_location>
#include <string>
#include <utility>

namespace qel {

// A condition the engine cannot continue from ("capacity overflow", an index
// past the end of an input that was not checked). Returned as the error of a
// Result; the module raises its internal-error exception with the message and
// reports where the error was made:
//     if (!total) return InternalError("capacity overflow");
// A function that fails either way returns Result<T, std::variant<QelError,
// InternalError>> (each alternative is raised as its own kind).
struct InternalError {
    std::string message;
    std::source_location where;

    explicit InternalError(std::string m, std::source_location w = std::source_location::current())
        : message(std::move(m)), where(w) {}
};

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
