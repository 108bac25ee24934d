// classify_sleep_stage_rust and ultradian_phase_rust.
#include "bindings/frame.hpp"
#include "engine/sleep.hpp"

namespace qel::py {

QEL_BINDINGS(sleep) {
    m.function("classify_sleep_stage_rust", "classify_sleep_stage_rust(r, functional_desync)", "",
               [](double r, bool functional_desync) { return sleep::classify_sleep_stage(r, functional_desync); });
    m.function("ultradian_phase_rust", "ultradian_phase_rust(timestamps, stages)", "",
               [](F64Array timestamps, U8Array stages) {
                   return sleep::ultradian_phase(timestamps.span(), stages.span());
               });
}

}  // namespace qel::py
