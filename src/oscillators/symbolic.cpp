#include "oscillators/symbolic.hpp"

#include <cmath>
#include <cstddef>

#include "engine/util/wrap.hpp"

namespace qel::symbolic {

namespace {

double turn_fraction(std::uint64_t i, std::uint64_t n) {
    if (n == 0) return 0.0;
    return std::fmod((static_cast<double>(i) * kTwoPi) / static_cast<double>(n), kTwoPi);
}

// The Euclidean remainder of s by n >= 1, in [0, n).
std::uint64_t euclid_rem(std::int64_t s, std::uint64_t n) {
    if (s >= 0) return static_cast<std::uint64_t>(s) % n;
    const std::uint64_t r = (std::uint64_t{0} - static_cast<std::uint64_t>(s)) % n;  // |s| mod n
    return r == 0 ? 0 : n - r;
}

}  // namespace

double ring_phase(std::uint64_t state_index, std::uint64_t n_states) { return turn_fraction(state_index, n_states); }

double graph_walk_phase(std::uint64_t position, std::uint64_t walk_length) {
    return turn_fraction(position, walk_length);
}

void ring_phases(std::span<const std::int64_t> s, std::uint64_t n_states, std::span<double> out) {
    if (n_states == 0) {
        for (double& x : out.first(s.size())) x = 0.0;
        return;
    }
    for (std::size_t k = 0; k < s.size(); ++k) out[k] = turn_fraction(euclid_rem(s[k], n_states), n_states);
}

void graph_walk_phases(std::span<const std::int64_t> s, std::uint64_t n_states, std::span<double> out) {
    const std::size_t len = s.size();
    if (len < 2) return ring_phases(s, n_states, out);
    // The distances go into out as floats first, then become phases in place.
    std::uint64_t d = 0;
    out[0] = 0.0;
    for (std::size_t i = 1; i < len; ++i) {
        if (__builtin_add_overflow(d, index_distance(s[i], s[i - 1]), &d)) d = UINT64_MAX;
        out[i] = static_cast<double>(d);
    }
    const double total = static_cast<double>(d == 0 ? 1 : d);
    for (std::size_t i = 0; i < len; ++i) out[i] = std::fmod((out[i] * kTwoPi) / total, kTwoPi);
}

}  // namespace qel::symbolic
