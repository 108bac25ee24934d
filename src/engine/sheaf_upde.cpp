#include "engine/sheaf_upde.hpp"

#include <algorithm>
#include <cmath>
#include <new>

#include "engine/util/checked.hpp"
#include "engine/util/finite.hpp"
#include "engine/util/pool.hpp"
#include "engine/util/stepper_kit.hpp"
#include "engine/util/wrap.hpp"
#include "types/format.hpp"

namespace qel::sheaf_upde {

namespace {

// Remaining time at or below this is dropped.
constexpr double kTimeEpsilon = 1e-12;
constexpr double kMinStep = 1e-9;

// max(|a|, |b|) with a NaN operand ignored.
double abs_max_ignoring_nan(double a, double b) {
    double x = std::fabs(a), y = std::fabs(b);
    if (std::isnan(x)) return y;
    if (std::isnan(y)) return x;
    return y > x ? y : x;
}

double clamp(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

// One oscillator's d coupling sums. Visiting a innermost keeps each sum's own
// (j, b) order while the d sums proceed side by side; a compile-time D keeps
// them in registers, otherwise out itself accumulates.
template <std::size_t D>
void oscillator_row(std::size_t i, std::size_t n, std::size_t d_rt, const double* sin_theta, const double* cos_theta,
                    const double* maps, double* out) {
    const std::size_t d = D ? D : d_rt;
    const double* si = sin_theta + i * d;
    const double* ci = cos_theta + i * d;
    double acc[D ? D : 1];
    double* c = D ? acc : out;
    for (std::size_t a = 0; a < d; ++a) c[a] = 0.0;
    const double* block = maps + i * n * d * d;
    for (std::size_t j = 0; j < n; ++j, block += d * d) {
        const double* sj = sin_theta + j * d;
        const double* cj = cos_theta + j * d;
        for (std::size_t b = 0; b < d; ++b) {
            double sjb = sj[b], cjb = cj[b];
            for (std::size_t a = 0; a < d; ++a) {
                double r = block[a * d + b];
                if (r != 0.0) c[a] += r * (sjb * ci[a] - cjb * si[a]);
            }
        }
    }
    if constexpr (D != 0)
        for (std::size_t a = 0; a < d; ++a) out[a] = c[a];
}

}  // namespace

void compute_derivative(std::size_t n, std::size_t d, std::span<const double> state, std::span<double> sin_theta,
                        std::span<double> cos_theta, std::span<const double> omegas, std::span<const double> maps,
                        std::span<const double> sin_psi, std::span<const double> cos_psi, std::span<double> out,
                        double zeta) {
    const std::size_t nd = n * d;
    // glibc's sincos gives the bits of sin and cos, in one call.
    for (std::size_t k = 0; k < nd; ++k) ::sincos(state[k], &sin_theta[k], &cos_theta[k]);
    const double* st = sin_theta.data();
    const double* ct = cos_theta.data();
    const double* r = maps.data();
    const bool drive = zeta != 0.0;
    pool::for_each_index(n, [&](std::size_t i) {
        double* o = out.data() + i * d;
        switch (d) {
            case 1: oscillator_row<1>(i, n, d, st, ct, r, o); break;
            case 2: oscillator_row<2>(i, n, d, st, ct, r, o); break;
            case 3: oscillator_row<3>(i, n, d, st, ct, r, o); break;
            case 4: oscillator_row<4>(i, n, d, st, ct, r, o); break;
            default: oscillator_row<0>(i, n, d, st, ct, r, o); break;
        }
        for (std::size_t a = 0; a < d; ++a) {
            std::size_t k = i * d + a;
            o[a] = o[a] + omegas[k];
            if (drive) o[a] += zeta * (sin_psi[a] * ct[k] - cos_psi[a] * st[k]);
        }
    });
}

QelResult<SheafUPDEStepper> SheafUPDEStepper::create(std::size_t n, std::size_t d, const IntegrationConfig& config) {
    if (n == 0 || d == 0) return QelError::invalid_dimension("n and d must both be > 0");
    // The configuration's errors come before the size refusals (init checks it again, at no cost).
    if (Status s = config.validate(); !s) return std::move(s).error();
    auto nd = checked_mul(n, d);
    if (!nd) return QelError::invalid_dimension(text::cat("n*d overflows: n=", n, " d=", d));
    if (!checked_mul(*nd, *nd)) return QelError::invalid_dimension(text::cat("(n*d)^2 overflows: n*d=", *nd));
    SheafUPDEStepper s;
    // Sizes in units of d: the state and the per-entry views n*d values, the drive's views d.
    auto built = kit::construct<kit::Oversize::Allocate>(s.core_, d, config, n,
                                                         {{&s.sin_theta_, n},
                                                          {&s.cos_theta_, n},
                                                          {&s.y_entry_, n},
                                                          {&s.sin_psi_, 1},
                                                          {&s.cos_psi_, 1}});
    if (!built) return std::move(built).error();
    s.n_ = n;
    s.d_ = d;
    s.nd_ = *nd;
    return s;
}

Status SheafUPDEStepper::step(std::span<double> phases, std::span<const double> omegas, std::span<const double> maps,
                              std::span<const double> psi, double zeta) {
    if (psi.size() != d_ || phases.size() != nd_ || omegas.size() != nd_)
        return QelError::invalid_dimension("Phase/omega/psi size mismatch");
    // nd_ * nd_ was checked at construction.
    if (maps.size() != nd_ * nd_) return QelError::invalid_dimension("Restriction map size mismatch");
    if (!all_finite(phases) || !all_finite(omegas) || !all_finite(maps) || !all_finite(psi) || !std::isfinite(zeta))
        return QelError::integration_diverged("sheaf UPDE inputs contain NaN/Inf");

    if (zeta != 0.0) {
        for (std::size_t a = 0; a < d_; ++a) {
            sin_psi_[a] = std::sin(psi[a]);
            cos_psi_[a] = std::cos(psi[a]);
        }
    }
    auto f = [&](std::span<const double> state, std::span<double> out) {
        compute_derivative(n_, d_, state, sin_theta_, cos_theta_, omegas, maps, sin_psi_, cos_psi_, out, zeta);
    };
    if (core_.config().method == IntegrationMethod::RK45) {
        if (Status st = rk45(f, phases); !st) return st;
    } else {
        core_.substeps(f, phases);
    }
    wrap_phases(phases);
    return {};
}

Status SheafUPDEStepper::run(std::span<double> phases, std::span<const double> omegas, std::span<const double> maps,
                             std::span<const double> psi, double zeta, std::uint64_t n_steps) {
    return run_steps(n_steps, [&](std::uint64_t) { return step(phases, omegas, maps, psi, zeta); });
}

// Every way out is finite: a trial rejected at the smallest step size, a NaN
// error norm, an accepted trial too small to move the remaining time, or an
// interrupt (asked between trials: a step may take very many) fails the step.
template <class F>
Status SheafUPDEStepper::rk45(F& f, std::span<double> y) {
    using namespace integrators::dp;
    const IntegrationConfig& cfg = core_.config();
    const double dt = cfg.dt;
    // For dt below 1e-9 the smallest step would exceed the largest.
    const double h_min = dt < kMinStep ? dt : kMinStep;
    const double inv_nd = 1.0 / static_cast<double>(nd_);
    const double last_dt_on_entry = core_.last_dt();
    std::copy(y.begin(), y.end(), y_entry_.begin());
    auto fail = [&](QelError e) -> Status {
        std::copy(y_entry_.begin(), y_entry_.end(), y.begin());
        core_.set_last_dt(last_dt_on_entry);
        return e;
    };
    const integrators::DopriBuffers b = core_.dopri_buffers();

    double remaining = dt;
    double h_cur = core_.last_dt();
    for (bool first = true; remaining > kTimeEpsilon; first = false) {
        if (!first && interrupted()) return fail(interrupted_error<QelError>());
        const double h = h_cur < remaining ? h_cur : remaining;
        integrators::dopri_stages(f, y, h, b, integrators::StageScaling::SlopeFirst);

        double sum = 0.0;
        for (std::size_t k = 0; k < nd_; ++k) {
            const double est =
                h * (e1 * b.k1[k] + e3 * b.k3[k] + e4 * b.k4[k] + e5 * b.k5[k] + e6 * b.k6[k] + e7 * b.k7[k]);
            double sc = cfg.atol + cfg.rtol * abs_max_ignoring_nan(y[k], b.y5[k]);
            double q = est / sc;
            sum += q * q;
        }
        const double err = std::sqrt(inv_nd * sum);
        if (std::isnan(err)) return fail(QelError::integration_diverged("sheaf RK45 error estimate is NaN"));

        double h_prop = err == 0.0 ? 5.0 * h : clamp(0.9 * h * std::pow(err, -0.2), 0.1 * h, 5.0 * h);
        h_prop = clamp(h_prop, h_min, dt);
        h_cur = h_prop;

        if (err <= 1.0) {
            const double left = remaining - h;
            if (!(left < remaining))
                return fail(QelError::integration_diverged("sheaf RK45 step too small to advance time"));
            std::copy(b.y5.begin(), b.y5.end(), y.begin());
            remaining = left;
            core_.set_last_dt(h_prop);
        } else if (h <= h_min) {
            return fail(QelError::integration_diverged("sheaf RK45 error above tolerance at the smallest step size"));
        }
    }
    return {};
}

}  // namespace qel::sheaf_upde
