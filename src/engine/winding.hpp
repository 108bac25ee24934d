// Winding numbers: full turns made by each oscillator over a phase history.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::winding {

// history: T rows of n phases, time-major. Each step's increment is taken
// into (-pi, pi] (half a turn counts as +pi), summed in time order, and the
// sum's whole turns rounded down, saturating (NaN gives 0). A history that
// is not at least two whole rows gives n zeros; n = 0 gives no value. The
// only error is an interrupted loop.
Result<std::vector<std::int64_t>, PlainError> winding_numbers(std::span<const double> history, std::size_t n);

}  // namespace qel::winding
