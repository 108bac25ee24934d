// PyUPDEStepper: the dense UPDE stepper class.
#include "bindings/frame.hpp"
#include "bindings/stepper_settings.hpp"
#include "engine/upde.hpp"

namespace qel::py {

using upde::UPDEStepper;

QEL_BINDINGS(upde) {
    m.cls<UPDEStepper>("PyUPDEStepper",
                       "PyUPDEStepper(n, dt=0.01, method=\"euler\", n_substeps=1, atol=1e-6, rtol=1e-3)", "",
                       [](std::uint64_t n, double dt, std::string method, std::uint32_t n_substeps, double atol,
                          double rtol) {
                           return make_stepper<UPDEStepper>({dt, method, n_substeps, atol, rtol}, n);
                       })
        .method("step", "step($self, phases, omegas, knm, zeta, psi, alpha)",
                "Advance phases by one step. Returns new phases as numpy array.",
                [](UPDEStepper& s, PhasesCopy phases, F64Array omegas, F64ArrayMut knm, double zeta, double psi,
                   F64Array alpha) {
                    return advanced(s.step(phases.values, omegas.span(), knm.span(), zeta, psi, alpha.span()), phases);
                })
        .method("run", "run($self, phases, omegas, knm, zeta, psi, alpha, n_steps)",
                "Run n_steps. Returns final phases as numpy array.",
                [](UPDEStepper& s, PhasesCopy phases, F64Array omegas, F64ArrayMut knm, double zeta, double psi,
                   F64Array alpha, std::uint64_t n_steps) {
                    // Zero steps hand the copy back as given: no checks, no wrap.
                    return advanced(s.run(phases.values, omegas.span(), knm.span(), zeta, psi, alpha.span(), n_steps),
                                    phases);
                })
        .method("set_plasticity", "set_plasticity($self, lr, decay=0.0, modulator=1.0)", "",
                [](UPDEStepper& s, double lr, double decay, double modulator) {
                    return s.set_plasticity(lr, decay, modulator);
                });
}

}  // namespace qel::py
