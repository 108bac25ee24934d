#include "engine/simplicial.hpp"

#include <cmath>
#include <vector>

#include "engine/util/finite.hpp"
#include "engine/util/stepper_kit.hpp"
#include "engine/util/wrap.hpp"

namespace qel::simplicial {

QelResult<SimplicialStepper> SimplicialStepper::create(std::size_t n, const IntegrationConfig& config) {
    if (n == 0) return QelError::invalid_dimension("n must be > 0");
    if (Status st = config.validate(); !st) return std::move(st).error();
    SimplicialStepper s;
    // Whatever method was asked for, the model takes one Euler step of dt.
    if (Status st = s.core_.init(kit::euler_config(config.dt), n, {{&s.sin_cache_, n}, {&s.cos_cache_, n}}); !st)
        return std::move(st).error();
    s.n_ = n;
    return s;
}

void SimplicialStepper::euler(std::span<double> phases, std::span<const double> omegas, std::span<const double> knm,
                              std::span<const double> alpha, bool zero_lag, double zeta, double psi, double sigma2) {
    const std::size_t n = n_;
    double* sn = sin_cache_.data();
    double* cs = cos_cache_.data();
    auto derivative = [&](std::span<const double> x, std::span<double> out) {
        for (std::size_t i = 0; i < n; ++i) ::sincos(x[i], &sn[i], &cs[i]);
        const kit::Drive drive = kit::Drive::of(zeta, psi);
        const bool triadic = n >= 3 && sigma2 != 0.0;
        double S = 0.0, C = 0.0;
        if (triadic) {
            S = -0.0;
            C = -0.0;
            for (std::size_t j = 0; j < n; ++j) S = S + sn[j];
            for (std::size_t j = 0; j < n; ++j) C = C + cs[j];
        }
        const double N = static_cast<double>(n);
        const double kappa = sigma2 / (N * N);
        const double* th = x.data();
        const double* om = omegas.data();
        const double* k = knm.data();
        const double* a = alpha.data();
        double* d = out.data();
        kit::for_rows(n, [&](std::size_t b, std::size_t e) {
            for (std::size_t i = b; i < e; ++i) {
                const double s_i = sn[i], c_i = cs[i];
                double v = zero_lag ? kit::pairwise_fast_blocked(n, sn, cs, s_i, c_i, k + i * n)
                                    : kit::pairwise_general(n, th, th[i], k + i * n, a + i * n);
                v = v + om[i];
                if (triadic) {
                    const double diff = S * c_i - C * s_i;
                    v = v + ((S * s_i + C * c_i) * (diff + diff)) * kappa;
                }
                if (drive.on) v = v + drive.term(s_i, c_i);
                d[i] = v;
            }
        });
    };
    std::span<double> y = phases.first(n);
    core_.substeps(derivative, y);
    wrap_phases(y);
}

Status SimplicialStepper::step(std::span<double> phases, std::span<const double> omegas, std::span<const double> knm,
                               std::span<const double> alpha, double zeta, double psi, double sigma2) {
    if (Status st = kit::check_lengths(n_, phases.size(), omegas.size(), knm.size(), alpha.size()); !st) return st;
    const FiniteZero lags = scan_finite_zero(alpha);
    if (!all_finite(phases) || !all_finite(omegas) || !all_finite(knm) || !lags.finite || !std::isfinite(zeta) ||
        !std::isfinite(psi) || !std::isfinite(sigma2))
        return QelError::integration_diverged("simplicial step inputs contain NaN/Inf");
    euler(phases, omegas, knm, alpha, lags.zero, zeta, psi, sigma2);
    return {};
}

Result<void, RunError> SimplicialStepper::run(std::span<double> phases, std::span<const double> omegas,
                                              std::span<const double> knm, std::span<const double> alpha,
                                              double zeta, double psi, double sigma2, std::uint64_t n_steps) {
    if (n_steps == 0) return {};
    const std::size_t n = n_;
    const bool zero_lag = kit::all_zero(alpha);
    if (auto e = kit::need("phases", n, phases.size())) return RunError(*e);
    if (auto e = kit::need("omegas", n, omegas.size())) return RunError(*e);
    if (auto e = kit::need_square("knm", n, knm.size())) return RunError(*e);
    if (!zero_lag)
        if (auto e = kit::need_square("alpha", n, alpha.size())) return RunError(*e);
    Status st = run_steps(n_steps, [&](std::uint64_t) -> Status {
        euler(phases, omegas, knm, alpha, zero_lag, zeta, psi, sigma2);
        return {};
    });
    if (!st) return RunError(std::move(st).error());
    return {};
}

Result<std::vector<double>, std::variant<PlainError, InternalError>> simplicial_run(
    std::span<const double> phases, std::span<const double> omegas, std::span<const double> knm,
    std::span<const double> alpha, std::size_t n, double zeta, double psi, double sigma2, double dt,
    std::uint64_t n_steps) {
    using Err = std::variant<PlainError, InternalError>;
    if (phases.size() != n || omegas.size() != n) return Err(PlainError{"phases/omegas length must equal n"});
    auto nn = checked_mul(n, n);
    if (!nn || knm.size() != *nn || alpha.size() != *nn) return Err(PlainError{"knm/alpha length must equal n*n"});
    auto stepper = SimplicialStepper::create(n, kit::euler_config(dt));
    if (!stepper) return Err(kit::init_failed(stepper.error()));
    std::vector<double> out(phases.begin(), phases.end());
    auto r = stepper.value().run(out, omegas, knm, alpha, zeta, psi, sigma2, n_steps);
    if (!r) return Err(InternalError("interrupted"));
    return out;
}

}  // namespace qel::simplicial
