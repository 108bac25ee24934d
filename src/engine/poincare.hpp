// Poincare sections of sampled trajectories: crossings of a hyperplane in
// state space, and passages of one oscillator through a given phase, each
// interpolated between the two samples around it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "types/error.hpp"

namespace qel::poincare {

enum class CrossingDirection : std::uint8_t { Positive = 0, Negative = 1, Both = 2 };

// "positive", "negative" or "both", exactly.
Result<CrossingDirection, PlainError> parse_direction(std::string_view text);

// Crossings in ascending sample order, each a pair index k and a fraction:
// the time is k + fraction and the point interpolates rows k and k + 1 of
// the input, which must outlive this object. The pairs are kept as the pool
// tasks found them; write() produces the points straight into the caller's
// arrays.
class Crossings {
public:
    struct Pair {
        std::size_t k;
        double frac;
    };
    Crossings() = default;
    Crossings(std::vector<std::vector<Pair>> parts, const double* rows, std::size_t dim, bool along_short_arc);
    std::size_t count() const { return count_; }
    std::size_t dim() const { return dim_; }
    // points: count()*dim() values, one point after another; times: count().
    void write(std::span<double> points, std::span<double> times) const;

private:
    std::vector<std::vector<Pair>> parts_;
    const double* rows_ = nullptr;
    std::size_t dim_ = 0, count_ = 0;
    bool short_arc_ = false;
};

// traj: T samples of d values, time-major. The section is u . x = offset
// with u the unit normal; "positive" counts s0 < 0 <= s1, "negative"
// s0 > 0 >= s1, "both" strictly opposite signs only. Empty when T < 2.
// The crossings as (points, times, count), written into the buffers that
// alloc(count * dim) and alloc(count) return (anything with span()).
template <class Alloc>
auto crossing_arrays(Result<Crossings, PlainError> r, Alloc&& alloc)
    -> Result<std::tuple<decltype(alloc(std::size_t{})), decltype(alloc(std::size_t{})), std::uint64_t>, PlainError> {
    if (!r) return std::move(r).error();
    const Crossings& c = r.value();
    auto points = alloc(c.count() * c.dim());
    auto times = alloc(c.count());
    c.write(points.span(), times.span());
    return std::tuple{std::move(points), std::move(times), static_cast<std::uint64_t>(c.count())};
}

Result<Crossings, PlainError> poincare_section(std::span<const double> traj, std::size_t T, std::size_t d,
                                               std::span<const double> normal, double offset,
                                               CrossingDirection direction);

// phases: T rows of N phases, time-major. A crossing is the chosen
// oscillator's unwrapped phase, relative to section_phase and reduced to
// [0, 2pi), stepping from above pi to below pi. Points interpolate every
// oscillator along the short arc between the two rows, not re-wrapped.
Result<Crossings, PlainError> phase_poincare(std::span<const double> phases, std::size_t T, std::size_t N,
                                             std::size_t oscillator_idx, double section_phase);

}  // namespace qel::poincare
