#include "engine/sheaf_upde.hpp"

#include <algorithm>
#include <cmath>
#include <new>

#include "engine/util/checked.hpp"
#include "engine/util/integrators.hpp"
#include "engine/util/pool.hpp"
#include "engine/util/wrap.hpp"
#include "types/format.hpp"

namespace qel::sheaf_upde {

namespace {

// Error weights: fourth-order weight minus fifth-order weight, each rounded first.
constexpr double e1 = integrators::dp::bs1 - integrators::dp::b1, e3 = integrators::dp::bs3 - integrators::dp::b3,
                 e4 = integrators::dp::bs4 - integrators::dp::b4, e5 = integrators::dp::bs5 - integrators::dp::b5,
                 e6 = integrators::dp::bs6 - integrators::dp::b6, e7 = integrators::dp::bs7;

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
void oscillator_row(std::size_t i, std::size_t n, std::size_t d_rt, const double* sin_theta,
                    const double* cos_theta, const double* maps, double* out) {
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
                        std::span<double> cos_theta, std::span<const double> omegas,
                        std::span<const double> maps, std::span<const double> sin_psi,
                        std::span<const double> cos_psi, std::span<double> out, double zeta) {
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
    if (Status s = config.validate(); !s) return std::move(s).error();
    auto nd = checked_mul(n, d);
    if (!nd) return QelError::invalid_dimension(text::cat("n*d overflows: n=", n, " d=", d));
    if (!checked_mul(*nd, *nd)) return QelError::invalid_dimension(text::cat("(n*d)^2 overflows: n*d=", *nd));
    constexpr std::size_t kLong = 12;
    auto long_total = checked_mul(*nd, kLong);
    auto total = long_total ? checked_add(*long_total, 2 * d) : std::nullopt;
    if (!total) throw std::bad_alloc();
    SheafUPDEStepper s;
    s.n_ = n;
    s.d_ = d;
    s.nd_ = *nd;
    s.config_ = config;
    s.last_dt_ = config.dt;
    s.scratch_ = ScratchBlock(*total);
    double* p = s.scratch_.data();
    for (auto* v : {&s.y_new_, &s.k1_, &s.k2_, &s.k3_, &s.k4_, &s.k5_, &s.k6_, &s.k7_, &s.err_est_,
                    &s.sin_theta_, &s.cos_theta_, &s.y_entry_}) {
        *v = std::span<double>(p, *nd);
        p += *nd;
    }
    s.sin_psi_ = std::span<double>(p, d);
    s.cos_psi_ = std::span<double>(p + d, d);
    return s;
}

auto SheafUPDEStepper::rhs(const Inputs& in) {
    return [this, in](std::span<const double> state, std::span<double> out) {
        compute_derivative(n_, d_, state, sin_theta_, cos_theta_, in.omegas, in.maps, sin_psi_, cos_psi_, out,
                           in.zeta);
    };
}

Status SheafUPDEStepper::step(std::span<double> phases, std::span<const double> omegas,
                              std::span<const double> maps, std::span<const double> psi, double zeta) {
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
    const Inputs in{omegas, maps, zeta};
    const double h = config_.dt / static_cast<double>(config_.n_substeps);
    switch (config_.method) {
        case IntegrationMethod::Euler:
            for (std::uint32_t s = 0; s < config_.n_substeps; ++s) euler(phases, h, in);
            break;
        case IntegrationMethod::RK4:
            for (std::uint32_t s = 0; s < config_.n_substeps; ++s) rk4(phases, h, in);
            break;
        case IntegrationMethod::RK45:
            if (Status st = rk45(phases, in); !st) return st;
            break;
    }
    wrap_phases(phases);
    return {};
}

void SheafUPDEStepper::euler(std::span<double> y, double h, const Inputs& in) {
    integrators::euler_substep(rhs(in), y, k1_, h);
}

void SheafUPDEStepper::rk4(std::span<double> y, double h, const Inputs& in) {
    integrators::rk4_substep(rhs(in), y, integrators::Rk4Buffers{k1_, k2_, k3_, k4_, y_new_}, h);
}

// Covers dt in as many accepted trials as the tolerances need. Every way out
// is finite: a trial rejected at the smallest step size, a NaN error norm, or
// an accepted trial too small to move the remaining time fails the step.
Status SheafUPDEStepper::rk45(std::span<double> y, const Inputs& in) {
    const double dt = config_.dt;
    // For dt below 1e-9 the smallest step would exceed the largest.
    const double h_min = dt < kMinStep ? dt : kMinStep;
    const double inv_nd = 1.0 / static_cast<double>(nd_);
    const double last_dt_on_entry = last_dt_;
    std::copy(y.begin(), y.end(), y_entry_.begin());
    auto fail = [&](const char* msg) -> Status {
        std::copy(y_entry_.begin(), y_entry_.end(), y.begin());
        last_dt_ = last_dt_on_entry;
        return QelError::integration_diverged(msg);
    };
    // err_est_ doubles as the stage buffer: it is written only after the stages.
    const integrators::DopriBuffers b{k1_, k2_, k3_, k4_, k5_, k6_, k7_, err_est_, y_new_};
    auto f = rhs(in);

    double remaining = dt;
    double h_cur = last_dt_;
    while (remaining > kTimeEpsilon) {
        const double h = h_cur < remaining ? h_cur : remaining;
        const std::size_t m = nd_;
        integrators::dopri_stages(f, y, h, b, integrators::StageScaling::SlopeFirst);

        double sum = 0.0;
        for (std::size_t k = 0; k < m; ++k) {
            err_est_[k] =
                h * (e1 * k1_[k] + e3 * k3_[k] + e4 * k4_[k] + e5 * k5_[k] + e6 * k6_[k] + e7 * k7_[k]);
            double sc = config_.atol + config_.rtol * abs_max_ignoring_nan(y[k], y_new_[k]);
            double q = err_est_[k] / sc;
            sum += q * q;
        }
        const double err = std::sqrt(inv_nd * sum);
        if (std::isnan(err)) return fail("sheaf RK45 error estimate is NaN");

        double h_prop = err == 0.0 ? 5.0 * h : clamp(0.9 * h * std::pow(err, -0.2), 0.1 * h, 5.0 * h);
        h_prop = clamp(h_prop, h_min, dt);
        h_cur = h_prop;

        if (err <= 1.0) {
            const double left = remaining - h;
            if (!(left < remaining)) return fail("sheaf RK45 step too small to advance time");
            std::copy(y_new_.begin(), y_new_.end(), y.begin());
            remaining = left;
            last_dt_ = h_prop;
        } else if (h <= h_min) {
            return fail("sheaf RK45 error above tolerance at the smallest step size");
        }
    }
    return {};
}

}  // namespace qel::sheaf_upde
