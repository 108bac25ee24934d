// torus_run_rust.
#include "bindings/frame.hpp"
#include "engine/geometric.hpp"

namespace qel::py {

QEL_BINDINGS(geometric) {
    // _n is converted (a bad one still fails) but n is the length of phases.
    m.function("torus_run_rust", "torus_run_rust(phases, omegas, knm, alpha, _n, zeta, psi, dt, n_steps)", "",
               [](F64Array phases, F64Array omegas, F64Array knm, F64Array alpha, std::uint64_t, double zeta,
                  double psi, double dt, std::uint64_t n_steps) {
                   return AsArray{geometric::torus_run(phases.span(), omegas.span(), knm.span(), alpha.span(), zeta,
                                                       psi, dt, n_steps)};
               });
}

}  // namespace qel::py
