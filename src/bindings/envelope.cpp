// extract_envelope_rust and envelope_modulation_depth_rust.
#include "bindings/frame.hpp"
#include "engine/envelope.hpp"

namespace qel::py {

QEL_BINDINGS(envelope) {
    m.function("extract_envelope_rust", "extract_envelope_rust(amplitudes, window)", "",
               [](F64Array amplitudes, std::uint64_t window) {
                   return filled(NewArray<double>::alloc(amplitudes.size()), [&](NewArray<double>& out) {
                       return envelope::extract_envelope(amplitudes.span(), window, out.span());
                   });
               });
    m.function("envelope_modulation_depth_rust", "envelope_modulation_depth_rust(envelope_arr)", "",
               [](F64Array envelope_arr) { return envelope::modulation_depth(envelope_arr.span()); });
}

}  // namespace qel::py
