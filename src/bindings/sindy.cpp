// sindy_fit_rust.
#include "bindings/frame.hpp"
#include "engine/sindy.hpp"

namespace qel::py {

QEL_BINDINGS(sindy) {
    m.function("sindy_fit_rust", "sindy_fit_rust(phases, n_osc, n_time, dt, threshold, max_iter)", "",
               [](F64Array phases, std::uint64_t n_osc, std::uint64_t n_time, double dt, double threshold,
                  std::uint64_t max_iter) {
                   return AsArray{sindy::sindy_fit(phases.span(), n_osc, n_time, dt, threshold, max_iter)};
               });
}

}  // namespace qel::py
