// The informational channel: an oscillator observed only through the time
// stamps of its events. The median event rate gives the frequency (robust to
// a few missing or doubled events), the phase is what that rate accumulates
// over the stream, and the regularity of the intervals its quality.
#pragma once
#include <span>

namespace qel::informational {

struct EventPhase {
    double theta = 0.0;    // radians, in [0, 2pi]
    double omega = 0.0;    // radians per second
    double quality = 0.0;  // 1 / (1 + spread / mean of the intervals), in (0, 1]
};

// All zeros for an invalid stream: fewer than two stamps, a NaN or infinite
// stamp, a stamp not strictly after its predecessor, or a span that overflows.
EventPhase event_phase(std::span<const double> timestamps);

}  // namespace qel::informational
