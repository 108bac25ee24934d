#include "engine/simplicial.hpp"

#include <cmath>
#include <vector>

#include "engine/util/internal_errors.hpp"
#include "engine/util/stepper_kit.hpp"
#include "engine/util/wrap.hpp"

namespace qel::simplicial {

kit::StepperResult<SimplicialStepper> SimplicialStepper::create(std::size_t n, const IntegrationConfig& config) {
    SimplicialStepper s;
    auto st = kit::construct(s.core_, n, config, 1, {{&s.deriv_, 1}, {&s.sin_cache_, 1}, {&s.cos_cache_, 1}});
    if (!st) return std::move(st).error();
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
        const double* om = omegas.data();
        double* d = out.data();
        const kit::Pairwise pw{n, x.data(), sn, cs, knm.data(), alpha.data()};
        kit::rows_on_pool(n, [&](std::size_t i) {
            const double s_i = sn[i], c_i = cs[i];
            double v =
                zero_lag ? kit::pairwise_row<kit::SumOrder::Blocks8>(pw, i, true) : kit::pairwise_row(pw, i, false);
            v = v + om[i];
            if (triadic) {
                const double diff = S * c_i - C * s_i;
                v = v + ((S * s_i + C * c_i) * (diff + diff)) * kappa;
            }
            if (drive.on) v = v + drive.term(s_i, c_i);
            d[i] = v;
        });
    };
    std::span<double> y = phases.first(n);
    integrators::euler_substep(derivative, y, deriv_, core_.config().dt);
    wrap_phases(y);
}

Status SimplicialStepper::step(std::span<double> phases, std::span<const double> omegas, std::span<const double> knm,
                               std::span<const double> alpha, double zeta, double psi, double sigma2) {
    if (Status st = check_phase_lengths(n_, phases.size(), omegas.size(), LengthText::Extended); !st) return st;
    if (Status st = kit::check_matrix_lengths(n_, knm.size(), alpha.size()); !st) return st;
    if (Status st = kit::check_finite("simplicial step inputs contain NaN/Inf", {phases, omegas, knm, alpha},
                                      {zeta, psi, sigma2});
        !st)
        return st;
    euler(phases, omegas, knm, alpha, kit::all_alpha_zero(alpha), zeta, psi, sigma2);
    return {};
}

Result<void, kit::StepperError> SimplicialStepper::run(std::span<double> phases, std::span<const double> omegas,
                                                       std::span<const double> knm, std::span<const double> alpha,
                                                       double zeta, double psi, double sigma2, std::uint64_t n_steps) {
    if (n_steps == 0) return {};
    const std::size_t n = n_;
    const bool zero_lag = kit::all_alpha_zero(alpha);
    if (auto e = kit::need("phases", n, phases.size())) return kit::StepperError(*e);
    if (auto e = kit::need("omegas", n, omegas.size())) return kit::StepperError(*e);
    if (auto e = kit::need_square("knm", n, knm.size())) return kit::StepperError(*e);
    if (!zero_lag)
        if (auto e = kit::need_square("alpha", n, alpha.size())) return kit::StepperError(*e);
    Status st = run_steps(n_steps, [&](std::uint64_t) -> Status {
        euler(phases, omegas, knm, alpha, zero_lag, zeta, psi, sigma2);
        return {};
    });
    if (!st) return kit::StepperError(std::move(st).error());
    return {};
}

Result<std::vector<double>, std::variant<PlainError, InternalError>> simplicial_run(
    std::span<const double> phases, std::span<const double> omegas, std::span<const double> knm,
    std::span<const double> alpha, std::size_t n, double zeta, double psi, double sigma2, double dt,
    std::uint64_t n_steps) {
    using Err = std::variant<PlainError, InternalError>;
    if (phases.size() != n || omegas.size() != n) return Err(PlainError{"phases/omegas length must equal n"});
    if (!kit::is_square_len(knm.size(), n) || !kit::is_square_len(alpha.size(), n))
        return Err(PlainError{"knm/alpha length must equal n*n"});
    auto stepper = SimplicialStepper::create(n, kit::dt_config(dt));
    if (!stepper) return Err(kit::run_failure(stepper.error()));
    std::vector<double> out(phases.begin(), phases.end());
    auto r = stepper.value().run(out, omegas, knm, alpha, zeta, psi, sigma2, n_steps);
    if (!r) return Err(interrupted_error<InternalError>());
    return out;
}

}  // namespace qel::simplicial
