// physical_extract: phase, frequency, amplitude and quality of an analytic signal.
#include "bindings/frame.hpp"
#include "oscillators/physical.hpp"

namespace qel::py {

template <>
struct TupleFields<physical::PhysicalPhase> {
    using R = physical::PhysicalPhase;
    static constexpr auto fields = std::tuple{&R::theta, &R::omega, &R::amplitude, &R::quality};
};

QEL_BINDINGS(physical) {
    m.function("physical_extract", "physical_extract(real, imag, sample_rate)", "",
               [](F64Array real, F64Array imag, double sample_rate) {
                   return physical::extract_from_analytic(real.span(), imag.span(), sample_rate);
               });
}

}  // namespace qel::py
