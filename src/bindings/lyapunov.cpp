// lyapunov_spectrum_rust.
#include "bindings/frame.hpp"
#include "engine/lyapunov.hpp"

namespace qel::py {

QEL_BINDINGS(lyapunov) {
    m.function("lyapunov_spectrum_rust",
               "lyapunov_spectrum_rust(phases_init, omegas, knm, alpha, dt=0.01, n_steps=1000, qr_interval=10, "
               "zeta=0.0, psi=0.0)",
               "",
               [](F64Array phases_init, F64Array omegas, F64Array knm, F64Array alpha, double dt, std::uint64_t n_steps,
                  std::uint64_t qr_interval, double zeta, double psi) {
                   return AsArray{lyapunov::lyapunov_spectrum(phases_init.span(), omegas.span(), knm.span(),
                                                              alpha.span(), dt, n_steps, qr_interval, zeta, psi)};
               });
}

}  // namespace qel::py
