// The symbolic channel: an oscillator observed as a sequence of discrete
// state indices. Ring reading: n states sit evenly on the circle, state s at
// 2pi s / n. Walk reading: the phase is the fraction of a walk covered, by
// cumulative index distance.
#pragma once
#include <cstdint>
#include <span>

namespace qel::symbolic {

// fmod((i * 2pi) / n, 2pi); 0.0 for n = 0. i is not reduced first: i >= n
// only adds whole turns, which fmod removes.
double ring_phase(std::uint64_t state_index, std::uint64_t n_states);
// The same arithmetic for a position on a walk of walk_length steps.
double graph_walk_phase(std::uint64_t position, std::uint64_t walk_length);

// out[k]: the ring angle of the Euclidean remainder of s[k] by n_states
// (exact for every count, in unsigned arithmetic); zeros for n_states = 0.
// out has s's length.
void ring_phases(std::span<const std::int64_t> s, std::uint64_t n_states, std::span<double> out);

// out[i] = 2pi d_i / D, d_i the running sum of |s_i - s_(i-1)| (saturating at
// 2^64 - 1), D the last d or 1 if that is 0. Fewer than two entries fall back
// to ring_phases, the only use of n_states. out has s's length.
void graph_walk_phases(std::span<const std::int64_t> s, std::uint64_t n_states, std::span<double> out);

// |a - b|, exact for any two signed 64-bit integers.
inline std::uint64_t index_distance(std::int64_t a, std::int64_t b) {
    const auto ua = static_cast<std::uint64_t>(a), ub = static_cast<std::uint64_t>(b);
    return a > b ? ua - ub : ub - ua;
}

}  // namespace qel::symbolic
