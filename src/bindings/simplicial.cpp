// PySimplicialStepper and simplicial_run_rust.
#include "bindings/frame.hpp"
#include "engine/simplicial.hpp"
#include "engine/util/stepper_kit.hpp"

namespace qel::py {

using simplicial::SimplicialStepper;

QEL_BINDINGS(simplicial) {
    m.cls<SimplicialStepper>("PySimplicialStepper", "PySimplicialStepper(n, dt=0.01)", "",
                             [](std::uint64_t n, double dt) {
                                 return SimplicialStepper::create(n, kit::dt_config(dt));
                             })
        .method("step", "step($self, phases, omegas, knm, alpha, zeta, psi, sigma2)", "",
                [](SimplicialStepper& s, PhasesCopy phases, F64Array omegas, F64Array knm, F64Array alpha, double zeta,
                   double psi, double sigma2) {
                    return advanced(s.step(phases.values, omegas.span(), knm.span(), alpha.span(), zeta, psi, sigma2),
                                    phases);
                })
        .method("run", "run($self, phases, omegas, knm, alpha, zeta, psi, sigma2, n_steps)", "",
                [](SimplicialStepper& s, PhasesCopy phases, F64Array omegas, F64Array knm, F64Array alpha, double zeta,
                   double psi, double sigma2, std::uint64_t n_steps) {
                    return advanced(s.run(phases.values, omegas.span(), knm.span(), alpha.span(), zeta, psi, sigma2,
                                          n_steps),
                                    phases);
                });

    m.function("simplicial_run_rust",
               "simplicial_run_rust(phases, omegas, knm, alpha, n, zeta, psi, sigma2, dt, n_steps)", "",
               [](F64Array phases, F64Array omegas, F64Array knm, F64Array alpha, std::uint64_t n, double zeta,
                  double psi, double sigma2, double dt, std::uint64_t n_steps) {
                   return AsArray{simplicial::simplicial_run(phases.span(), omegas.span(), knm.span(), alpha.span(), n,
                                                             zeta, psi, sigma2, dt, n_steps)};
               });
}

}  // namespace qel::py
