// Zero-filled scratch owned by a stepper. calloc, so that a huge size either
// fails cleanly at construction or costs nothing until used.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

#include "types/failure.hpp"

namespace qel {

class ScratchBlock {
public:
    ScratchBlock() = default;
    // Throws AllocationFailure (a std::bad_alloc) when count doubles cannot be had.
    explicit ScratchBlock(std::size_t count) {
        void* p = std::calloc(count == 0 ? 1 : count, sizeof(double));
        if (!p) throw AllocationFailure("stepper scratch", count > SIZE_MAX / sizeof(double) ? SIZE_MAX : count * sizeof(double));
        p_.reset(static_cast<double*>(p));
    }
    double* data() const { return p_.get(); }

private:
    struct Free {
        void operator()(double* p) const { std::free(p); }
    };
    std::unique_ptr<double[], Free> p_;
};

}  // namespace qel
