// Sleep-stage codes from synchrony, and the phase of a recording within the
// ultradian cycle.
#pragma once
#include <cstdint>
#include <span>

namespace qel::sleep {

// 3 for r >= 0.7, 2 for r >= 0.4, then 1 (4 when desynchronised) for
// r >= 0.3, 0 (4 when desynchronised) for r >= 0.2, else 0; NaN gives 0.
std::uint8_t classify_sleep_stage(double r, bool functional_desync);

inline constexpr double kUltradianCycle = 5400.0;

// fmod(t[m-1] - t[i], 5400) / 5400 for the last i < m with stage 3,
// m = min(len); 0.0 without such a sample or for empty input.
double ultradian_phase(std::span<const double> timestamps, std::span<const std::uint8_t> stages);

}  // namespace qel::sleep
