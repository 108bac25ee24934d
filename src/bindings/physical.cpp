// physical_extract: phase, frequency, amplitude and quality of an analytic signal.
#include "bindings/frame.hpp"
#include "oscillators/physical.hpp"

namespace qel::py {

QEL_BINDINGS(physical) {
    m.function("physical_extract", "physical_extract(real, imag, sample_rate)", "",
               [](F64Array real, F64Array imag, double sample_rate) {
                   auto r = physical::extract_from_analytic(real.span(), imag.span(), sample_rate);
                   return std::tuple{r.theta, r.omega, r.amplitude, r.quality};
               });
}

}  // namespace qel::py
