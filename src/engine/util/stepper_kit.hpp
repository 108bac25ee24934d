// Pieces the extended phase steppers share: the fixed configuration of the
// steppers that take only dt, the two length checks, the run functions'
// failure text, the input limits of the unvalidated paths, the pairwise
// coupling row in its summation orders, the drive, and the pool policy.
#pragma once
#include <cmath>
#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "engine/util/checked.hpp"
#include "engine/util/pool.hpp"
#include "types/config.hpp"
#include "types/error.hpp"
#include "types/failure.hpp"
#include "types/format.hpp"

namespace qel::kit {

// dt from the caller; the rest fixed (Euler, one substep), so only dt can fail.
inline IntegrationConfig euler_config(double dt) {
    return IntegrationConfig{dt, 1e-6, 1e-3, 1, IntegrationMethod::Euler};
}

// n*n in decimal even when it does not fit in 64 bits.
inline std::string square_text(std::size_t n) {
    unsigned __int128 v = static_cast<unsigned __int128>(n) * n;
    std::string s;
    do {
        s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
        v /= 10;
    } while (v != 0);
    return s;
}

// Phases and omegas hold n values, then knm and alpha n*n (an overflowed n*n
// matches no length).
inline Status check_lengths(std::size_t n, std::size_t phases, std::size_t omegas, std::size_t knm,
                            std::size_t alpha) {
    if (phases != n || omegas != n)
        return QelError::invalid_dimension(text::cat("expected phases and omegas length ", n, ", got ", phases, "/", omegas));
    auto nn = checked_mul(n, n);
    if (!nn || knm != *nn || alpha != *nn)
        return QelError::invalid_dimension(text::cat("expected knm/alpha length ", square_text(n), " got ", knm, "/", alpha));
    return {};
}

// A run function could not build or step its stepper.
inline InternalError init_failed(const QelError& e) { return InternalError("stepper init failed: " + e.debug()); }

// An unvalidated path would read `name` beyond its end.
inline InternalError shortfall(const char* name, std::size_t needed, std::size_t given) {
    return InternalError(text::cat("index out of range: ", name, " needs at least ", needed, " values, got ", given));
}
inline std::optional<InternalError> need(const char* name, std::size_t needed, std::size_t given) {
    if (given < needed) return shortfall(name, needed, given);
    return std::nullopt;
}
// As need(), with n*n values needed (an overflowed n*n is never had).
inline std::optional<InternalError> need_square(const char* name, std::size_t n, std::size_t given) {
    auto nn = checked_mul(n, n);
    if (nn && given >= *nn) return std::nullopt;
    return InternalError(text::cat("index out of range: ", name, " needs at least ", square_text(n), " values, got ", given));
}

// The zero-lag flag: every lag compares equal to 0.0 (-0.0 included); the
// scan stops at the first that does not, a NaN included.
inline bool all_zero(std::span<const double> alpha) {
    for (double a : alpha)
        if (!(a == 0.0)) return false;
    return true;
}

// zeta sin(psi - theta_i) = c_i zs - s_i zc; off for zeta == 0.0 (-0.0 too).
struct Drive {
    bool on = false;
    double zs = 0.0, zc = 0.0;
    static Drive of(double zeta, double psi) {
        if (zeta == 0.0) return {};
        return {true, zeta * std::sin(psi), zeta * std::cos(psi)};
    }
    double term(double s_i, double c_i) const { return c_i * zs - s_i * zc; }
};

// Row i of the pairwise term sum_j K_ij sin(theta_j - theta_i - alpha_ij),
// from 0.0. General path: one sine per pair, index order.
inline double pairwise_general(std::size_t n, const double* theta, double theta_i, const double* k_row,
                               const double* a_row) {
    double s = 0.0;
    for (std::size_t j = 0; j < n; ++j) s = s + std::sin((theta[j] - theta_i) - a_row[j]) * k_row[j];
    return s;
}

// Zero-lag path, index order: sum_j (s_j c_i - c_j s_i) K_ij.
inline double pairwise_fast(std::size_t n, const double* sn, const double* cs, double s_i, double c_i,
                            const double* k_row) {
    double s = 0.0;
    for (std::size_t j = 0; j < n; ++j) s = s + (sn[j] * c_i - cs[j] * s_i) * k_row[j];
    return s;
}

// Zero-lag path in blocks of eight: each block's products summed left to
// right, the block total added to the running sum; the n mod 8 tail added
// one at a time.
inline double pairwise_fast_blocked(std::size_t n, const double* sn, const double* cs, double s_i, double c_i,
                                    const double* k_row) {
    double s = 0.0;
    const std::size_t body = n - n % 8;
    for (std::size_t j = 0; j < body; j += 8) {
        double b = (sn[j] * c_i - cs[j] * s_i) * k_row[j];
        for (std::size_t l = 1; l < 8; ++l) b = b + (sn[j + l] * c_i - cs[j + l] * s_i) * k_row[j + l];
        s = s + b;
    }
    for (std::size_t j = body; j < n; ++j) s = s + (sn[j] * c_i - cs[j] * s_i) * k_row[j];
    return s;
}

// f(b, e) over row ranges: serial for small n, where the pool costs more
// than the rows, else on the pool in fixed chunks. Each row is computed by
// one worker from the same inputs, so the split changes no bit.
template <class F>
void for_rows(std::size_t n, F&& f) {
    constexpr std::size_t kSerialBelow = 64;
    if (n < kSerialBelow) {
        f(std::size_t{0}, n);
        return;
    }
    pool::for_chunks(n, n >= 4096 ? 32 : 16, f);
}

}  // namespace qel::kit
