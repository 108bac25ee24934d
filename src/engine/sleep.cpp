#include "engine/sleep.hpp"

#include <cmath>

namespace qel::sleep {

std::uint8_t classify_sleep_stage(double r, bool functional_desync) {
    if (r >= 0.7) return 3;
    if (r >= 0.4) return 2;
    if (r >= 0.3) return functional_desync ? 4 : 1;
    if (r >= 0.2) return functional_desync ? 4 : 0;
    return 0;
}

double ultradian_phase(std::span<const double> timestamps, std::span<const std::uint8_t> stages) {
    if (stages.empty() || timestamps.empty()) return 0.0;
    const std::size_t m = timestamps.size() < stages.size() ? timestamps.size() : stages.size();
    for (std::size_t i = m; i-- > 0;) {
        if (stages[i] == 3) return std::fmod(timestamps[m - 1] - timestamps[i], kUltradianCycle) / kUltradianCycle;
    }
    return 0.0;
}

}  // namespace qel::sleep
