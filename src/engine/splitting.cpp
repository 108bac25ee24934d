#include "engine/splitting.hpp"

#include <cmath>
#include <utility>

#include "engine/util/checked.hpp"
#include "engine/util/integrators.hpp"
#include "engine/util/wrap.hpp"
#include "types/format.hpp"

namespace qel::splitting {

void compute_coupling_deriv(std::size_t n, std::span<const double> theta, std::span<const double> knm,
                            std::span<const double> alpha, bool alpha_zero, std::span<double> sin_cache,
                            std::span<double> cos_cache, std::span<double> out, double zeta, double psi) {
    // glibc's sincos gives the bits of sin and cos.
    for (std::size_t i = 0; i < n; ++i) ::sincos(theta[i], &sin_cache[i], &cos_cache[i]);
    const kit::Drive drive = kit::Drive::of(zeta, psi);
    const kit::Pairwise p{n, theta.data(), sin_cache.data(), cos_cache.data(), knm.data(), alpha.data()};
    if (alpha_zero)
        kit::zero_lag_rows<kit::SumOrder::Plain>(p, 0, n, [&](std::size_t i, double sum) { out[i] = sum; });
    else
        for (std::size_t i = 0; i < n; ++i) out[i] = kit::pairwise_row(p, i, false);
    if (drive.on)
        for (std::size_t i = 0; i < n; ++i) out[i] = drive.term(sin_cache[i], cos_cache[i]) + out[i];
}

kit::StepperResult<SplittingStepper> SplittingStepper::create(std::size_t n, const IntegrationConfig& config) {
    SplittingStepper s;
    if (auto st = kit::construct(s.core_, n, config, 1, {{&s.sin_cache_, 1}, {&s.cos_cache_, 1}}); !st)
        return std::move(st).error();
    s.n_ = n;
    return s;
}

void SplittingStepper::rk4_coupling(std::span<double> theta, std::span<const double> knm, std::span<const double> alpha,
                                    bool alpha_zero, double zeta, double psi) {
    integrators::rk4_substep(
        [&](std::span<const double> y, std::span<double> out) {
            compute_coupling_deriv(n_, y, knm, alpha, alpha_zero, sin_cache_, cos_cache_, out, zeta, psi);
        },
        theta, core_.rk4_buffers(), core_.config().dt, integrators::StageStates::Wrapped);
}

void SplittingStepper::strang_step(std::span<double> theta, std::span<const double> omegas, std::span<const double> knm,
                                   std::span<const double> alpha, bool alpha_zero, double zeta, double psi) {
    const double half = 0.5 * core_.config().dt;
    for (std::size_t i = 0; i < n_; ++i) theta[i] = wrap_phase(omegas[i] * half + theta[i]);
    rk4_coupling(theta, knm, alpha, alpha_zero, zeta, psi);
    for (std::size_t i = 0; i < n_; ++i) theta[i] = wrap_phase(omegas[i] * half + theta[i]);
}

Status SplittingStepper::step(std::span<double> phases, std::span<const double> omegas, std::span<const double> knm,
                              std::span<const double> alpha, double zeta, double psi) {
    if (Status st = check_phase_lengths(n_, phases.size(), omegas.size(), LengthText::Extended); !st) return st;
    if (Status st = kit::check_matrix_lengths(n_, knm.size(), alpha.size()); !st) return st;
    if (Status st =
            kit::check_finite("splitting step inputs contain NaN/Inf", {phases, omegas, knm, alpha}, {zeta, psi});
        !st)
        return st;
    strang_step(phases, omegas, knm, alpha, kit::all_alpha_zero(alpha), zeta, psi);
    return {};
}

namespace {
// What a run reads: n values of phases and omegas, n*n of knm, and n*n of
// alpha unless every lag is zero (then alpha is only scanned).
Result<void, InternalError> check_run_lengths(std::size_t n, std::size_t phases, std::size_t omegas, std::size_t knm,
                                              std::size_t alpha, bool alpha_zero) {
    auto short_of = [&](const char* name, std::size_t len, std::string need) {
        return InternalError(text::cat(name, " has ", len, " entries, fewer than the ", need, " a step reads"));
    };
    if (phases < n) return short_of("phases", phases, text::cat(n));
    if (omegas < n) return short_of("omegas", omegas, text::cat(n));
    // An n*n that overflows is more than any array holds.
    auto nn = checked_mul(n, n);
    if (!nn || knm < *nn) return short_of("knm", knm, text::product(n, n));
    if (!alpha_zero && alpha < *nn) return short_of("alpha", alpha, text::product(n, n));
    return {};
}
}  // namespace

Result<void, InternalError> SplittingStepper::run(std::span<double> phases, std::span<const double> omegas,
                                                  std::span<const double> knm, std::span<const double> alpha,
                                                  double zeta, double psi, std::uint64_t n_steps) {
    if (n_steps == 0) return {};
    const bool alpha_zero = kit::all_alpha_zero(alpha);
    if (auto st = check_run_lengths(n_, phases.size(), omegas.size(), knm.size(), alpha.size(), alpha_zero); !st)
        return st;
    std::span<double> theta = phases.first(n_);
    Status st = run_steps(n_steps, [&](std::uint64_t) {
        strang_step(theta, omegas, knm, alpha, alpha_zero, zeta, psi);
        return Status{};
    });
    if (!st) return InternalError(st.error().message);
    return {};
}

order_params::OrderParameter SplittingStepper::order_parameter() const {
    order_params::Accumulator acc;
    for (std::size_t i = 0; i < n_; ++i) {
        acc.sum_sin += sin_cache_[i];
        acc.sum_cos += cos_cache_[i];
    }
    acc.m = n_;
    return acc.finish();
}

Result<void, InternalError> splitting_run(std::span<double> phases, std::span<const double> omegas,
                                          std::span<const double> knm, std::span<const double> alpha, double zeta,
                                          double psi, double dt, std::uint64_t n_steps) {
    auto made = SplittingStepper::create(phases.size(), kit::dt_config(dt));
    if (!made) return kit::run_failure(made.error());
    return made.value().run(phases, omegas, knm, alpha, zeta, psi, n_steps);
}

}  // namespace qel::splitting
