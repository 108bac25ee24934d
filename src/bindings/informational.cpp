// event_phase: phase, frequency and regularity of an event stream.
#include "bindings/frame.hpp"
#include "oscillators/informational.hpp"

namespace qel::py {

QEL_BINDINGS(informational) {
    m.function("event_phase", "event_phase(timestamps)", "", [](F64Array timestamps) {
        auto r = informational::event_phase(timestamps.span());
        return std::tuple{r.theta, r.omega, r.quality};
    });
}

}  // namespace qel::py
