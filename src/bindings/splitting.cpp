// PySplittingStepper and splitting_run_rust: Strang splitting of the phase network.
#include "bindings/frame.hpp"
#include "engine/splitting.hpp"

namespace qel::py {

using splitting::SplittingStepper;

QEL_BINDINGS(splitting) {
    m.cls<SplittingStepper>("PySplittingStepper", "PySplittingStepper(n, dt=0.01)", "",
                            [](std::uint64_t n, double dt) { return SplittingStepper::create(n, kit::dt_config(dt)); })
        .method("step", "step($self, phases, omegas, knm, alpha, zeta, psi)", "",
                [](SplittingStepper& s, PhasesCopy phases, F64Array omegas, F64Array knm, F64Array alpha, double zeta,
                   double psi) {
                    return advanced(s.step(phases.values, omegas.span(), knm.span(), alpha.span(), zeta, psi), phases);
                })
        .method("run", "run($self, phases, omegas, knm, alpha, zeta, psi, n_steps)", "",
                [](SplittingStepper& s, PhasesCopy phases, F64Array omegas, F64Array knm, F64Array alpha, double zeta,
                   double psi, std::uint64_t n_steps) {
                    return advanced(s.run(phases.values, omegas.span(), knm.span(), alpha.span(), zeta, psi, n_steps),
                                    phases);
                })
        .method("order_parameter", "order_parameter($self)", "", [](const SplittingStepper& s) {
            auto op = s.order_parameter();
            return std::make_tuple(op.r, op.psi);
        });

    m.function("splitting_run_rust", "splitting_run_rust(phases, omegas, knm, alpha, _n, zeta, psi, dt, n_steps)", "",
               [](F64Array phases, F64Array omegas, F64Array knm, F64Array alpha, std::uint64_t /*_n*/, double zeta,
                  double psi, double dt, std::uint64_t n_steps) {
                   return filled(NewArray<double>::from(phases.span()), [&](NewArray<double>& out) {
                       return splitting::splitting_run(out.span(), omegas.span(), knm.span(), alpha.span(), zeta, psi,
                                                       dt, n_steps);
                   });
               });
}

}  // namespace qel::py
