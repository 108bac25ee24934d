// oa_run_rust, fit_lorentzian_rust and steady_state_r_oa_rust.
#include "bindings/frame.hpp"
#include "engine/reduction.hpp"

namespace qel::py {

template <>
struct TupleFields<reduction::OaState> {
    using R = reduction::OaState;
    static constexpr auto fields = std::tuple{&R::x, &R::y, &R::r, &R::psi};
};

QEL_BINDINGS(reduction) {
    m.function("oa_run_rust", "oa_run_rust(z_re, z_im, omega_0, delta, k_coupling, dt, n_steps)", "",
               [](double z_re, double z_im, double omega_0, double delta, double k_coupling, double dt,
                  std::uint64_t n_steps) {
                   return reduction::oa_run(z_re, z_im, omega_0, delta, k_coupling, dt, n_steps);
               });
    m.function("fit_lorentzian_rust", "fit_lorentzian_rust(omegas)", "", [](F64Array omegas) {
        auto fit = reduction::fit_lorentzian(omegas.span());
        return std::tuple{fit.omega_0, fit.delta};
    });
    m.function("steady_state_r_oa_rust", "steady_state_r_oa_rust(delta, k_coupling)", "",
               [](double delta, double k_coupling) { return reduction::steady_state_r_oa(delta, k_coupling); });
}

}  // namespace qel::py
