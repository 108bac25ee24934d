// Entropy production rate of a Kuramoto network.
#include "bindings/frame.hpp"
#include "engine/entropy_prod.hpp"

namespace qel::py {

QEL_BINDINGS(entropy_prod) {
    m.function("entropy_production_rate", "entropy_production_rate(phases, omegas, knm, alpha, dt)", "",
               [](F64Array phases, F64Array omegas, F64Array knm, double alpha, double dt) {
                   return entropy_prod::entropy_production_rate(phases.span(), omegas.span(), knm.span(), alpha, dt);
               });
}

}  // namespace qel::py
