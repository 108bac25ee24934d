// PyStuartLandauStepper: the Stuart-Landau stepper class.
#include "bindings/frame.hpp"
#include "bindings/stepper_settings.hpp"
#include "engine/stuart_landau.hpp"

namespace qel::py {
namespace {

using stuart_landau::StuartLandauStepper;

// The state is copied, the other arrays read in place; the advanced copy
// comes back as a list.
Result<std::vector<double>, QelError> advance(StuartLandauStepper& s, F64Array state, F64Array omegas, F64Array mu,
                                              F64Array knm, F64Array knm_r, double zeta, double psi, F64Array alpha,
                                              double epsilon, std::uint64_t n_steps) {
    const stuart_landau::Inputs in{omegas.span(), mu.span(), knm.span(), knm_r.span(),
                                   alpha.span(),  zeta,      psi,        epsilon};
    return filled(std::vector<double>(state.ptr, state.ptr + state.len),
                  [&](std::vector<double>& y) { return n_steps == 1 ? s.step(y, in) : s.run(y, in, n_steps); });
}

}  // namespace

QEL_BINDINGS(stuart_landau) {
    m.cls<
         StuartLandauStepper>("PyStuartLandauStepper",
                              "PyStuartLandauStepper(n, dt=0.01, method=\"euler\", n_substeps=1, atol=1e-6, rtol=1e-3)",
                              "",
                              [](std::uint64_t n, double dt, std::string method, std::uint32_t n_substeps, double atol,
                                 double rtol) {
                                  return make_stepper<StuartLandauStepper>({dt, method, n_substeps, atol, rtol}, n);
                              })
        .method("step", "step($self, state, omegas, mu, knm, knm_r, zeta, psi, alpha, epsilon)",
                "Advance state [θ; r] by one step. Returns new state array (2N).",
                [](StuartLandauStepper& s, F64Array state, F64Array omegas, F64Array mu, F64Array knm, F64Array knm_r,
                   double zeta, double psi, F64Array alpha,
                   double epsilon) { return advance(s, state, omegas, mu, knm, knm_r, zeta, psi, alpha, epsilon, 1); })
        .method("run", "run($self, state, omegas, mu, knm, knm_r, zeta, psi, alpha, epsilon, n_steps)",
                "Run n_steps. Returns final state list (2N).",
                [](StuartLandauStepper& s, F64Array state, F64Array omegas, F64Array mu, F64Array knm, F64Array knm_r,
                   double zeta, double psi, F64Array alpha, double epsilon, std::uint64_t n_steps) {
                    return advance(s, state, omegas, mu, knm, knm_r, zeta, psi, alpha, epsilon, n_steps);
                })
        .getter("n", "", [](const StuartLandauStepper& s) -> std::uint64_t { return s.n(); })
        .getter("last_dt", "", [](const StuartLandauStepper& s) { return s.last_dt(); });
}

}  // namespace qel::py
