// Zero-filled scratch owned by a stepper. calloc, so that a huge size either
// fails cleanly at construction or costs nothing until used.
#pragma once
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

namespace qel {

class ScratchBlock {
public:
    ScratchBlock() = default;
    // Throws std::bad_alloc when count doubles cannot be had.
    explicit ScratchBlock(std::size_t count) {
        void* p = std::calloc(count == 0 ? 1 : count, sizeof(double));
        if (!p) throw std::bad_alloc();
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
