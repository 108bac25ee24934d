#include "engine/geometric.hpp"

#include <cmath>

#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"
#include "engine/util/stepper_kit.hpp"
#include "engine/util/wrap.hpp"

namespace qel::geometric {

Result<std::vector<double>, InternalError> torus_run(std::span<const double> phases, std::span<const double> omegas,
                                                     std::span<const double> knm, std::span<const double> alpha,
                                                     double zeta, double psi, double dt, std::uint64_t n_steps) {
    const std::size_t n = phases.size();
    std::vector<double> c(n), s(n);
    for (std::size_t i = 0; i < n; ++i) ::sincos(phases[i], &s[i], &c[i]);
    const bool zero_lag = kit::all_alpha_zero(alpha);
    if (n > 0 && n_steps > 0) {
        if (auto e = kit::need("omegas", n, omegas.size())) return *e;
        if (auto e = kit::need_square("knm", n, knm.size())) return *e;
        if (!zero_lag)
            if (auto e = kit::need_square("alpha", n, alpha.size())) return *e;
    }
    // Formed once per call, not per step.
    const kit::Drive drive = kit::Drive::of(zeta, psi);
    // The next state, and on the general path the angles of this one (the
    // same atan2 for every pair that reads them).
    std::vector<double> c_next(n), s_next(n), phi(zero_lag ? 0 : n);
    const double* om = omegas.data();
    for (std::uint64_t step = 0; step < n_steps; ++step) {
        if (step != 0 && interrupted()) return interrupted_error<InternalError>();
        if (!zero_lag)
            for (std::size_t j = 0; j < n; ++j) phi[j] = std::atan2(s[j], c[j]);
        // The state's components stand for the caches, its angles for the phases.
        const kit::Pairwise pw{n, phi.data(), s.data(), c.data(), knm.data(), alpha.data()};
        kit::rows_on_pool(n, [&](std::size_t i) {
            const double c_i = c[i], s_i = s[i];
            double w = kit::pairwise_row(pw, i, zero_lag);
            w = w + om[i];
            if (drive.on) w = w + drive.term(s_i, c_i);
            double sa, ca;
            ::sincos(w * dt, &sa, &ca);
            double cn = c_i * ca - s_i * sa;
            double sn = c_i * sa + s_i * ca;
            const double q = cn * cn + sn * sn;
            if (q > 0.0) {
                const double r = std::sqrt(q);
                cn = cn / r;
                sn = sn / r;
            }
            c_next[i] = cn;
            s_next[i] = sn;
        });
        c.swap(c_next);
        s.swap(s_next);
    }
    std::vector<double> out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = wrap_phase(std::atan2(s[i], c[i]));
    return out;
}

}  // namespace qel::geometric
