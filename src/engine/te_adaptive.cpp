#include "engine/te_adaptive.hpp"

#include "engine/util/checked.hpp"
#include "engine/util/internal_errors.hpp"

namespace qel::te_adaptive {

namespace {

// The first off-diagonal position p >= len of an n x n matrix (p = i*n + j,
// j != i), for a len below n*n - 1 so that one exists. Diagonal positions
// are the multiples of n + 1; for the largest n that step wraps to 0 and only
// position 0 is diagonal.
std::size_t first_offdiagonal_from(std::size_t len, std::size_t n) {
    const auto step = checked_add(n, 1);
    const bool diagonal = step ? len % *step == 0 : len == 0;
    return diagonal ? len + 1 : len;
}

}  // namespace

Result<std::vector<double>, PlainError> adapt_coupling(std::span<const double> knm, std::span<const double> te,
                                                       std::size_t n, double lr, double decay) {
    if (n > 1) {
        // The last off-diagonal position is n*n - 2.
        auto nn = checked_mul(n, n);
        const std::size_t needed = nn ? *nn - 1 : 0;
        if (!nn || knm.size() < needed) return index_out_of_bounds(knm.size(), first_offdiagonal_from(knm.size(), n));
        if (te.size() < needed) return index_out_of_bounds(te.size(), first_offdiagonal_from(te.size(), n));
    }
    const double keep = 1.0 - decay;
    std::vector<double> out(n * n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t row = i * n;
        for (std::size_t j = 0; j < n; ++j) {
            if (j == i) {
                out[row + j] = 0.0;
                continue;
            }
            const double v = te[row + j] * lr + knm[row + j] * keep;
            out[row + j] = v > 0.0 ? v : 0.0;
        }
    }
    return out;
}

}  // namespace qel::te_adaptive
