// The one pseudo-random generator: Knuth's MMIX linear congruential step,
// advanced before every draw, seeded by the caller.
#pragma once
#include <cstdint>

namespace qel {

class MmixLcg {
public:
    explicit MmixLcg(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        state_ = state_ * kMul + kAdd;
        return state_;
    }
    // (state >> 33) * 2^-31, in [0, 1).
    double uniform31() { return static_cast<double>(next() >> 33) * 0x1p-31; }
    // (state >> 11) * 2^-53, in [0, 1).
    double uniform53() { return static_cast<double>(next() >> 11) * 0x1p-53; }
    // (state >> 33) mod range; range must be non-zero.
    std::uint64_t index(std::uint64_t range) { return (next() >> 33) % range; }
    std::uint64_t state() const { return state_; }
    // Moves the stream k steps ahead (k taken mod 2^64, the period), in
    // O(log k): the state k next() calls would leave.
    void advance(std::uint64_t k) {
        std::uint64_t mul = 1, add = 0;
        std::uint64_t step_mul = kMul, step_add = kAdd;
        for (; k != 0; k >>= 1) {
            if (k & 1) {
                mul *= step_mul;
                add = add * step_mul + step_add;
            }
            step_add = (step_mul + 1) * step_add;
            step_mul *= step_mul;
        }
        state_ = state_ * mul + add;
    }

private:
    static constexpr std::uint64_t kMul = 6364136223846793005ULL, kAdd = 1442695040888963407ULL;
    std::uint64_t state_;
};

}  // namespace qel
