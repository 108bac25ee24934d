// Zero-filled arrays owned by a stepper or model. calloc, so that a huge size
// either fails cleanly at construction or costs nothing until used.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>
#include <type_traits>

#include "types/failure.hpp"

namespace qel {

template <class T>
class ZeroArray {
    static_assert(std::is_arithmetic_v<T>, "all-zero bytes must be a valid T");

public:
    ZeroArray() = default;
    // Throws AllocationFailure (a std::bad_alloc) when count values cannot be had.
    explicit ZeroArray(std::size_t count, const char* what = "scratch") : size_(count) {
        void* p = std::calloc(count == 0 ? 1 : count, sizeof(T));
        if (!p) throw AllocationFailure(what, count > SIZE_MAX / sizeof(T) ? SIZE_MAX : count * sizeof(T));
        p_.reset(static_cast<T*>(p));
    }
    T* data() const { return p_.get(); }
    std::size_t size() const { return size_; }
    std::span<T> span() const { return {p_.get(), size_}; }

private:
    struct Free {
        void operator()(T* p) const { std::free(p); }
    };
    std::unique_ptr<T[], Free> p_;
    std::size_t size_ = 0;
};

using ScratchBlock = ZeroArray<double>;

}  // namespace qel
