// extract_phases_rust: per-sample phases of a real signal via its analytic signal.
#include "bindings/frame.hpp"
#include "engine/phase_extract.hpp"

namespace qel::py {

QEL_BINDINGS(phase_extract) {
    using Out = std::tuple<NewArray<double>, NewArray<double>, NewArray<double>, double>;
    m.function("extract_phases_rust", "extract_phases_rust(signal, fs)", "",
               [](F64Array signal, double fs) -> Result<Out, PlainError> {
                   auto r = phase_extract::extract_phases(signal.span(), fs);
                   if (!r) return std::move(r).error();
                   const auto& v = r.value();
                   return Out{NewArray<double>::from(v.phases), NewArray<double>::from(v.amplitudes),
                              NewArray<double>::from(v.frequencies), v.dominant_frequency};
               });
}

}  // namespace qel::py
