// PySparseUPDEStepper: the UPDE stepper on compressed sparse rows.
#include "bindings/frame.hpp"
#include "bindings/stepper_settings.hpp"
#include "engine/sparse_upde.hpp"

namespace qel::py {
namespace {

using sparse_upde::SparseUPDEStepper;

// Zero steps hand the copy back as given: no checks, no wrap.
Result<NewArray<double>, QelError> advance(SparseUPDEStepper& s, PhasesCopy& phases, F64Array omegas,
                                           USizeArray row_ptr, USizeArray col_indices, F64ArrayMut knm_values,
                                           double zeta, double psi, F64Array alpha_values, std::uint64_t n_steps) {
    const sparse_upde::Csr csr{row_ptr.span(), col_indices.span(), knm_values.span(), alpha_values.span()};
    return advanced(s.run(phases.values, omegas.span(), csr, zeta, psi, n_steps), phases);
}

}  // namespace

QEL_BINDINGS(sparse_upde) {
    m.cls<SparseUPDEStepper>("PySparseUPDEStepper",
                             "PySparseUPDEStepper(n, dt=0.01, method=\"euler\", n_substeps=1, atol=1e-6, rtol=1e-3)",
                             "",
                             [](std::uint64_t n, double dt, std::string method, std::uint32_t n_substeps, double atol,
                                double rtol) {
                                 return make_stepper<SparseUPDEStepper>({dt, method, n_substeps, atol, rtol}, n);
                             })
        .method("step", "step($self, phases, omegas, row_ptr, col_indices, knm_values, zeta, psi, alpha_values)", "",
                [](SparseUPDEStepper& s, PhasesCopy phases, F64Array omegas, USizeArray row_ptr, USizeArray col_indices,
                   F64ArrayMut knm_values, double zeta, double psi, F64Array alpha_values) {
                    return advance(s, phases, omegas, row_ptr, col_indices, knm_values, zeta, psi, alpha_values, 1);
                })
        .method("run", "run($self, phases, omegas, row_ptr, col_indices, knm_values, zeta, psi, alpha_values, n_steps)",
                "",
                [](SparseUPDEStepper& s, PhasesCopy phases, F64Array omegas, USizeArray row_ptr, USizeArray col_indices,
                   F64ArrayMut knm_values, double zeta, double psi, F64Array alpha_values, std::uint64_t n_steps) {
                    return advance(s, phases, omegas, row_ptr, col_indices, knm_values, zeta, psi, alpha_values,
                                   n_steps);
                })
        .method("set_plasticity", "set_plasticity($self, lr, decay=0.0, modulator=1.0)", "",
                [](SparseUPDEStepper& s, double lr, double decay, double modulator) {
                    return s.set_plasticity(lr, decay, modulator);
                })
        .method("disable_plasticity", "disable_plasticity($self)", "",
                [](SparseUPDEStepper& s) { s.disable_plasticity(); })
        .method("order_parameter", "order_parameter($self)", "",
                [](const SparseUPDEStepper& s) {
                    auto op = s.order_parameter();
                    return std::make_tuple(op.r, op.psi);
                })
        .getter("n", "", [](const SparseUPDEStepper& s) -> std::uint64_t { return s.n(); })
        .getter("last_dt", "", [](const SparseUPDEStepper& s) { return s.last_dt(); });
}

}  // namespace qel::py
