// extract_phases_rust: per-sample phases of a real signal via its analytic signal.
#include "bindings/frame.hpp"
#include "engine/phase_extract.hpp"

namespace qel::py {

template <>
struct TupleFields<phase_extract::AnalyticPhases> {
    using R = phase_extract::AnalyticPhases;
    static constexpr auto fields =
        std::tuple{as_array(&R::phases), as_array(&R::amplitudes), as_array(&R::frequencies), &R::dominant_frequency};
};

QEL_BINDINGS(phase_extract) {
    m.function("extract_phases_rust", "extract_phases_rust(signal, fs)", "",
               [](F64Array signal, double fs) { return phase_extract::extract_phases(signal.span(), fs); });
}

}  // namespace qel::py
