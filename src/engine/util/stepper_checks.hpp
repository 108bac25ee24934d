// The checks that the extended phase steppers share: the two length messages,
// one finiteness message per model over all inputs of a step, and the failure
// text of the run functions.
#pragma once
#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>

#include "engine/util/checked.hpp"
#include "engine/util/finite.hpp"
#include "types/error.hpp"
#include "types/failure.hpp"
#include "types/format.hpp"

namespace qel {

// n*n in decimal, also when it does not fit in 64 bits.
inline std::string square_text(std::size_t n) {
    unsigned __int128 v = static_cast<unsigned __int128>(n) * n;
    std::string s;
    do {
        s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
        v /= 10;
    } while (v != 0);
    return s;
}

// Phases and omegas of n values, knm and alpha of n*n (an overflowing n*n
// matches no length).
inline Status check_pairwise_lengths(std::size_t n, std::size_t phases, std::size_t omegas, std::size_t knm,
                                     std::size_t alpha) {
    if (phases != n || omegas != n)
        return QelError::invalid_dimension(text::cat("expected phases and omegas length ", n, ", got ", phases, "/", omegas));
    auto nn = checked_mul(n, n);
    if (!nn || knm != *nn || alpha != *nn)
        return QelError::invalid_dimension(text::cat("expected knm/alpha length ", square_text(n), " got ", knm, "/", alpha));
    return {};
}

// Every value of the arrays and every scalar is finite, else the model's message.
inline Status check_finite(std::initializer_list<std::span<const double>> arrays,
                           std::initializer_list<double> scalars, const char* message) {
    for (auto a : arrays)
        if (!all_finite_serial(a)) return QelError::integration_diverged(message);
    for (double x : scalars)
        if (!all_finite_serial({&x, 1})) return QelError::integration_diverged(message);
    return {};
}

// A run function's failure: "stepper init failed: " and the error's debug form.
inline InternalError stepper_failure(const QelError& e) { return InternalError("stepper init failed: " + e.debug()); }

}  // namespace qel
