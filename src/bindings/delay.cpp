// delayed_kuramoto_run_rust: Euler run of the Kuramoto network with delayed coupling.
#include "bindings/frame.hpp"
#include "engine/delay.hpp"

namespace qel::py {

QEL_BINDINGS(delay) {
    m.function("delayed_kuramoto_run_rust",
               "delayed_kuramoto_run_rust(phases_init, omegas, knm_flat, alpha_flat, n, zeta, psi, dt, delay_steps, "
               "n_steps)",
               "",
               [](F64Array phases_init, F64Array omegas, F64Array knm, F64Array alpha, std::uint64_t n, double zeta,
                  double psi, double dt, std::uint64_t delay_steps, std::uint64_t n_steps) {
                   return filled(NewArray<double>::from(phases_init.span()), [&](NewArray<double>& out) {
                       return delay::delayed_kuramoto_run(out.span(), omegas.span(), knm.span(), alpha.span(), n, zeta,
                                                          psi, dt, delay_steps, n_steps);
                   });
               });
}

}  // namespace qel::py
