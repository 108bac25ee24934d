// physical_extract: phase, frequency, amplitude and quality of an analytic signal.
#include "bindings/frame.hpp"
#include "oscillators/physical.hpp"

namespace qel::py {

QEL_BINDINGS(physical) {
    m.function("physical_extract", "physical_extract(real, imag, sample_rate)", "",
               [](F64Array real, F64Array imag,
                  double sample_rate) -> Result<std::tuple<double, double, double, double>, PlainError> {
                   auto r = physical::extract_from_analytic(real.span(), imag.span(), sample_rate);
                   if (!r) return std::move(r).error();
                   const auto& v = r.value();
                   return std::tuple{v.theta, v.omega, v.amplitude, v.quality};
               });
}

}  // namespace qel::py
