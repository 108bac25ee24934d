// Synchrony of a recorded multivariate phase series, time-major t x n (entry
// s*n + i is series i at step s): the order-parameter magnitude of every step,
// and the pairwise phase-locking matrix of every window of consecutive steps.
//
// Results go straight into the buffer that `alloc(len)` returns (anything
// with span()), asked for only once the input has passed its checks.
#pragma once
#include <cstddef>
#include <new>
#include <optional>
#include <span>
#include <utility>

#include "engine/util/checked.hpp"
#include "engine/util/internal_errors.hpp"
#include "types/error.hpp"

namespace qel::market {

namespace detail {
// The internal error for phases shorter than the t*n values the rows need.
std::optional<PlainError> short_input(std::span<const double> phases, std::size_t t, std::size_t n);
void order_parameter_into(const double* phases, std::size_t t, std::size_t n, std::span<double> out);
// False when the caller asked to stop between batches of windows.
bool plv_into(const double* phases, std::size_t t, std::size_t n, std::size_t window, std::span<double> out);
}  // namespace detail

// R_s = |mean of exp(i theta)| over row s, not clamped to 1; empty when t or n is 0.
template <class Alloc>
auto market_order_parameter(std::span<const double> phases, std::size_t t, std::size_t n, Alloc&& alloc)
    -> Result<decltype(alloc(std::size_t{})), PlainError> {
    if (t == 0 || n == 0) return alloc(0);
    if (auto e = detail::short_input(phases, t, n)) return std::move(*e);
    auto out = alloc(t);
    detail::order_parameter_into(phases.data(), t, n, out.span());
    return out;
}

// One n x n block per window start w = 0 .. t-window: |mean over the window of
// exp(i(theta_j - theta_i))| at w*n*n + i*n + j. Empty when n or window is 0
// or window > t.
template <class Alloc>
auto market_plv(std::span<const double> phases, std::size_t t, std::size_t n, std::size_t window, Alloc&& alloc)
    -> Result<decltype(alloc(std::size_t{})), PlainError> {
    if (n == 0 || window == 0 || window > t) return alloc(0);
    // Short input is decided before anything of the result's size is allocated.
    if (auto e = detail::short_input(phases, t, n)) return std::move(*e);
    auto block = checked_mul(n, n);
    auto len = block ? checked_mul(t - window + 1, *block) : std::nullopt;
    // No buffer of that many values can exist: the allocation failure it would be.
    if (!len) throw std::bad_alloc();
    auto out = alloc(*len);
    if (!detail::plv_into(phases.data(), t, n, window, out.span())) return interrupted_error();
    return out;
}

}  // namespace qel::market
