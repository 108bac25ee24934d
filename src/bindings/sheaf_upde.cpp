// PySheafUPDEStepper: the sheaf UPDE stepper class.
#include "bindings/frame.hpp"
#include "bindings/stepper_settings.hpp"
#include "engine/sheaf_upde.hpp"

namespace qel::py {
namespace {

using sheaf_upde::SheafUPDEStepper;

}  // namespace

QEL_BINDINGS(sheaf_upde) {
    m.cls<SheafUPDEStepper>("PySheafUPDEStepper",
                            "PySheafUPDEStepper(n, d, dt=0.01, method=\"euler\", n_substeps=1, atol=1e-6, rtol=1e-3)",
                            "",
                            [](std::uint64_t n, std::uint64_t d, double dt, std::string method,
                               std::uint32_t n_substeps, double atol, double rtol) {
                                return make_stepper<SheafUPDEStepper>({dt, method, n_substeps, atol, rtol}, n, d);
                            })
        .method("step", "step($self, phases, omegas, restriction_maps, zeta, psi)", "",
                [](SheafUPDEStepper& s, PhasesCopy phases, F64Array omegas, F64Array maps, double zeta, F64Array psi) {
                    return advanced(s.run(phases.values, omegas.span(), maps.span(), psi.span(), zeta, 1), phases);
                })
        .method("run", "run($self, phases, omegas, restriction_maps, zeta, psi, n_steps)", "",
                [](SheafUPDEStepper& s, PhasesCopy phases, F64Array omegas, F64Array maps, double zeta, F64Array psi,
                   std::uint64_t n_steps) {
                    // Zero steps hand the copy back as given: no checks, no wrap.
                    return advanced(s.run(phases.values, omegas.span(), maps.span(), psi.span(), zeta, n_steps),
                                    phases);
                })
        .getter("n", "", [](const SheafUPDEStepper& s) -> std::uint64_t { return s.n(); })
        .getter("d", "", [](const SheafUPDEStepper& s) -> std::uint64_t { return s.d(); })
        .getter("last_dt", "", [](const SheafUPDEStepper& s) { return s.last_dt(); });
}

}  // namespace qel::py
