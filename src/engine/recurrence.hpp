// Recurrence and cross-recurrence matrices of trajectories, and the
// recurrence quantification measures of a square byte matrix.
//
// A trajectory is T points of d coordinates, time-major (point i at
// i*d .. i*d + d - 1). Two points recur when their squared distance is
// <= epsilon^2: Euclidean (sum of (x_k - y_k)^2 in coordinate order) or
// angular (sum of the squared chords 4 sin^2((x_k - y_k)/2)). A NaN distance
// or epsilon never recurs.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "types/error.hpp"

namespace qel::recurrence {

namespace detail {
// The checks below, giving the matrix size in bytes.
Result<std::size_t, PlainError> recurrence_bytes(std::span<const double> trajectory, std::uint64_t t, std::uint64_t d);
Result<std::size_t, PlainError> cross_recurrence_bytes(std::span<const double> traj_a, std::span<const double> traj_b,
                                                       std::uint64_t t, std::uint64_t d);
// Fill out (T*T bytes); fail only when interrupted.
Result<void, PlainError> recurrence_matrix_into(std::span<const double> trajectory, std::uint64_t t, std::uint64_t d,
                                                double epsilon, bool angular, std::span<std::uint8_t> out);
Result<void, PlainError> cross_recurrence_matrix_into(std::span<const double> traj_a, std::span<const double> traj_b,
                                                      std::uint64_t t, std::uint64_t d, double epsilon, bool angular,
                                                      std::span<std::uint8_t> out);
}  // namespace detail

// Symmetric, ones on the diagonal (also for a point with NaN coordinates);
// each unordered pair is measured once; written into the buffer that
// alloc(T*T) returns (anything with span()), so the matrix is written once.
// Errors: "trajectory length {} != T*d={}", and "capacity overflow"
// (internal) for a T*T beyond a signed 64-bit count. T = 0 gives an empty
// matrix.
template <class Alloc>
auto recurrence_matrix(std::span<const double> trajectory, std::uint64_t t, std::uint64_t d, double epsilon,
                       bool angular, Alloc&& alloc) -> Result<decltype(alloc(std::size_t{})), PlainError> {
    auto bytes = detail::recurrence_bytes(trajectory, t, d);
    if (!bytes) return std::move(bytes).error();
    auto out = alloc(bytes.value());
    auto done = detail::recurrence_matrix_into(trajectory, t, d, epsilon, angular, out.span());
    if (!done) return std::move(done).error();
    return out;
}

// Entry i*T + j compares point i of traj_a with point j of traj_b (a - b);
// no diagonal forcing. Errors: "trajectory lengths mismatch T*d={}", and
// "capacity overflow" as above.
template <class Alloc>
auto cross_recurrence_matrix(std::span<const double> traj_a, std::span<const double> traj_b, std::uint64_t t,
                             std::uint64_t d, double epsilon, bool angular, Alloc&& alloc)
    -> Result<decltype(alloc(std::size_t{})), PlainError> {
    auto bytes = detail::cross_recurrence_bytes(traj_a, traj_b, t, d);
    if (!bytes) return std::move(bytes).error();
    auto out = alloc(bytes.value());
    auto done = detail::cross_recurrence_matrix_into(traj_a, traj_b, t, d, epsilon, angular, out.span());
    if (!done) return std::move(done).error();
    return out;
}

struct RqaMeasures {
    double rr = 0.0;        // recurrence rate
    double det = 0.0;       // determinism
    double avg_diag = 0.0;  // mean diagonal line length
    std::uint64_t max_diag = 0;
    double ent_diag = 0.0;   // entropy (nats) of the diagonal line lengths
    double lam = 0.0;        // laminarity
    double trap_time = 0.0;  // mean vertical line length
    std::uint64_t max_vert = 0;
};

// Recurrence quantification of the T x T row-major matrix (any non-zero byte
// recurs). Lines are maximal runs along the diagonals of both triangles (the
// main one unless excluded) and along the columns, kept when their length is
// >= l_min (diagonal) or v_min (vertical); a minimum of 0 also keeps the
// empty runs before every zero cell and at every line's end. Distinct
// diagonal lengths enter the entropy in ascending order. Error:
// "recurrence length {} != T²={}".
Result<RqaMeasures, PlainError> rqa(std::span<const std::uint8_t> matrix, std::uint64_t t, std::uint64_t l_min,
                                    std::uint64_t v_min, bool exclude_main_diagonal);

}  // namespace qel::recurrence
