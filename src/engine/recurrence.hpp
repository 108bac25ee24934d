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
#include <functional>
#include <span>

#include "types/error.hpp"

namespace qel::recurrence {

// Where a T*T matrix goes: called once with its size in bytes, returns a
// writable buffer of that size (the memory of the array handed to the
// caller, so the matrix is written once). May throw std::bad_alloc.
using ByteSink = std::function<std::span<std::uint8_t>(std::size_t)>;

// Symmetric, ones on the diagonal (also for a point with NaN coordinates);
// each unordered pair is measured once. Errors: "trajectory length {} != T*d={}",
// and "capacity overflow" (internal) for a T*T beyond a signed 64-bit count.
// T = 0 gives an empty matrix.
Result<void, PlainError> recurrence_matrix(std::span<const double> trajectory, std::uint64_t t, std::uint64_t d,
                                           double epsilon, bool angular, const ByteSink& sink);

// Entry i*T + j compares point i of traj_a with point j of traj_b (a - b);
// no diagonal forcing. Errors: "trajectory lengths mismatch T*d={}", and
// "capacity overflow" as above.
Result<void, PlainError> cross_recurrence_matrix(std::span<const double> traj_a, std::span<const double> traj_b,
                                                 std::uint64_t t, std::uint64_t d, double epsilon, bool angular,
                                                 const ByteSink& sink);

struct RqaMeasures {
    double rr = 0.0;        // recurrence rate
    double det = 0.0;       // determinism
    double avg_diag = 0.0;  // mean diagonal line length
    std::uint64_t max_diag = 0;
    double ent_diag = 0.0;  // entropy (nats) of the diagonal line lengths
    double lam = 0.0;       // laminarity
    double trap_time = 0.0; // mean vertical line length
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
