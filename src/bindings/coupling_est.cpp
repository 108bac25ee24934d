// Coupling estimation from phase data.
#include "bindings/frame.hpp"
#include "engine/coupling_est.hpp"

namespace qel::py {

QEL_BINDINGS(coupling_est) {
    m.function("estimate_coupling_rust", "estimate_coupling_rust(phases, omegas, n, t, dt)", "",
               [](F64Array phases, F64Array omegas, std::uint64_t n, std::uint64_t t, double dt) {
                   return AsArray{coupling_est::estimate_coupling(phases.span(), omegas.span(), n, t, dt)};
               });
}

}  // namespace qel::py
