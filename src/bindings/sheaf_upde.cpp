#include "bindings/frame.hpp"
#include "engine/sheaf_upde.hpp"
#include "types/format.hpp"

namespace qel::py {
namespace {

using sheaf_upde::SheafUPDEStepper;

NewArray<double> advance(SheafUPDEStepper& s, std::vector<double>& phases, F64Array omegas, F64Array maps,
                         double zeta, F64Array psi, std::uint64_t n_steps) {
    for (std::uint64_t t = 0; t < n_steps; ++t)
        if (Status st = s.step(phases, omegas.span(), maps.span(), psi.span(), zeta); !st) raise_qel(st.error());
    return NewArray<double>::from(phases);
}

}  // namespace

QEL_BINDINGS(sheaf_upde) {
    m.cls<SheafUPDEStepper>(
         "PySheafUPDEStepper",
         "PySheafUPDEStepper(n, d, dt=0.01, method=\"euler\", n_substeps=1, atol=1e-6, rtol=1e-3)", "",
         [](std::uint64_t n, std::uint64_t d, double dt, std::string method, std::uint32_t n_substeps, double atol,
            double rtol) -> QelResult<SheafUPDEStepper> {
             auto parsed = parse_method(method);
             if (!parsed) raise_value_error(text::cat("unknown method: ", method));
             return SheafUPDEStepper::create(n, d, IntegrationConfig{dt, atol, rtol, n_substeps, *parsed});
         })
        .method("step", "step($self, phases, omegas, restriction_maps, zeta, psi)", "",
                [](SheafUPDEStepper& s, PhasesCopy phases, F64Array omegas, F64Array maps, double zeta,
                   F64Array psi) { return advance(s, phases.values, omegas, maps, zeta, psi, 1); })
        .method("run", "run($self, phases, omegas, restriction_maps, zeta, psi, n_steps)", "",
                [](SheafUPDEStepper& s, PhasesCopy phases, F64Array omegas, F64Array maps, double zeta,
                   F64Array psi, std::uint64_t n_steps) {
                    return advance(s, phases.values, omegas, maps, zeta, psi, n_steps);
                })
        .getter("n", "", [](const SheafUPDEStepper& s) -> std::uint64_t { return s.n(); })
        .getter("d", "", [](const SheafUPDEStepper& s) -> std::uint64_t { return s.d(); })
        .getter("last_dt", "", [](const SheafUPDEStepper& s) { return s.last_dt(); });
}

}  // namespace qel::py
