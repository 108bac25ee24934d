#include "engine/upde.hpp"

#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "engine/util/checked.hpp"
#include "engine/util/integrators.hpp"
#include "engine/util/pool.hpp"
#include "engine/util/wrap.hpp"
#include "types/format.hpp"

namespace qel::upde {

namespace {

struct Drive {
    bool on = false;
    double zs = 0.0, zc = 0.0;  // zeta sin psi, zeta cos psi
};

// zeta sin(psi - theta_i) written as cos(theta_i) zs - sin(theta_i) zc.
inline double drive_term(const Drive& d, double s, double c) { return c * d.zs - s * d.zc; }

// Two lanes of doubles; lane-wise + and * round exactly like the scalar ones.
typedef double v2 __attribute__((vector_size(16)));

struct Rows {
    static constexpr std::size_t kGroup = 8;
    std::size_t n;
    const double* theta;
    const double* sin_t;
    const double* cos_t;
    const double* omegas;
    const double* knm;
    const double* alpha;
    double* out;
    Drive drive;

    void general(std::size_t i) const {
        const double ti = theta[i];
        const double* k = knm + i * n;
        const double* a = alpha + i * n;
        double s = 0.0;
        for (std::size_t j = 0; j < n; ++j) s = s + std::sin((theta[j] - ti) - a[j]) * k[j];
        double o = s + omegas[i];
        if (drive.on) o = o + drive_term(drive, sin_t[i], cos_t[i]);
        out[i] = o;
    }

    void fast_finish(std::size_t i, double S, double C) const {
        double o = (S * cos_t[i] - C * sin_t[i]) + omegas[i];
        if (drive.on) o = drive_term(drive, sin_t[i], cos_t[i]) + o;
        out[i] = o;
    }

    // Plain column order, kGroup rows at a time: each row keeps its own (S, C)
    // lane pair and its own order; the rows only share the loop, which hides
    // the latency of the adds.
    void fast_serial_group(std::size_t i) const {
        const double* k[kGroup];
        for (std::size_t r = 0; r < kGroup; ++r) k[r] = knm + (i + r) * n;
        v2 acc[kGroup] = {};
        for (std::size_t j = 0; j < n; ++j) {
            const v2 sc = {sin_t[j], cos_t[j]};
            for (std::size_t r = 0; r < kGroup; ++r) {
                const v2 kk = {k[r][j], k[r][j]};
                acc[r] = acc[r] + kk * sc;
            }
        }
        for (std::size_t r = 0; r < kGroup; ++r) fast_finish(i + r, acc[r][0], acc[r][1]);
    }

    // Plain column order.
    void fast_serial(std::size_t i) const {
        const double* k = knm + i * n;
        double S = 0.0, C = 0.0;
        for (std::size_t j = 0; j < n; ++j) {
            S = S + k[j] * sin_t[j];
            C = C + k[j] * cos_t[j];
        }
        fast_finish(i, S, C);
    }

    // Eight interleaved partial sums (column j feeds partial j mod 8), added
    // 0..7, then the n mod 8 tail columns in order. The partials are held as
    // four two-lane vectors.
    void fast_blocked(std::size_t i) const {
        const double* k = knm + i * n;
        v2 ps[4] = {}, pc[4] = {};
        const std::size_t body = n - n % 8;
        for (std::size_t j = 0; j < body; j += 8) {
            for (std::size_t l = 0; l < 4; ++l) {
                v2 kk, ss, cc;
                std::memcpy(&kk, k + j + 2 * l, sizeof kk);
                std::memcpy(&ss, sin_t + j + 2 * l, sizeof ss);
                std::memcpy(&cc, cos_t + j + 2 * l, sizeof cc);
                ps[l] = ps[l] + kk * ss;
                pc[l] = pc[l] + kk * cc;
            }
        }
        double S = 0.0, C = 0.0;
        for (std::size_t l = 0; l < 4; ++l) {
            S = S + ps[l][0];
            S = S + ps[l][1];
            C = C + pc[l][0];
            C = C + pc[l][1];
        }
        for (std::size_t j = body; j < n; ++j) {
            S = S + k[j] * sin_t[j];
            C = C + k[j] * cos_t[j];
        }
        fast_finish(i, S, C);
    }
};

// "expected {n*n}={n}*{n}, ..." needs n*n even when it does not fit in 64 bits.
std::string square_text(std::size_t n) {
    unsigned __int128 v = static_cast<unsigned __int128>(n) * n;
    if (v == 0) return "0";
    std::string s;
    while (v != 0) {
        s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
        v /= 10;
    }
    return s;
}

}  // namespace

void compute_derivative(std::size_t n, std::span<const double> phases, std::span<double> sin_theta,
                        std::span<double> cos_theta, std::span<const double> omegas, std::span<const double> knm,
                        std::span<const double> alpha, bool all_alpha_zero, std::span<double> out, double zeta,
                        double psi) {
    // glibc's sincos gives the bits of sin and cos, at about half the cost.
    for (std::size_t j = 0; j < n; ++j) ::sincos(phases[j], &sin_theta[j], &cos_theta[j]);
    Rows rows{n,           phases.data(), sin_theta.data(), cos_theta.data(), omegas.data(),
              knm.data(),  alpha.data(),  out.data(),       Drive{}};
    if (zeta != 0.0) rows.drive = Drive{true, zeta * std::sin(psi), zeta * std::cos(psi)};

    if (n < kParallelMinN) {
        if (all_alpha_zero) {
            std::size_t i = 0;
            for (; i + Rows::kGroup <= n; i += Rows::kGroup) rows.fast_serial_group(i);
            for (; i < n; ++i) rows.fast_serial(i);
        } else
            for (std::size_t i = 0; i < n; ++i) rows.general(i);
        return;
    }
    pool::for_chunks(n, kRowChunk, [&](std::size_t b, std::size_t e) {
        if (all_alpha_zero)
            for (std::size_t i = b; i < e; ++i) rows.fast_blocked(i);
        else
            for (std::size_t i = b; i < e; ++i) rows.general(i);
    });
}

QelResult<UPDEStepper> UPDEStepper::create(std::size_t n, const IntegrationConfig& config) {
    if (n == 0) return QelError::invalid_dimension("n must be > 0");
    if (auto st = config.validate(); !st) return std::move(st).error();

    constexpr std::size_t kBuffers = 12;
    auto total = checked_mul(n, kBuffers);
    if (!total) throw std::bad_alloc();
    UPDEStepper s;
    s.scratch = ScratchBlock(*total);
    double* p = s.scratch.data();
    std::span<double>* views[kBuffers] = {&s.deriv, &s.k1, &s.k2, &s.k3, &s.k4,        &s.k5,
                                          &s.k6,    &s.k7, &s.y5, &s.stage, &s.sin_theta, &s.cos_theta};
    for (std::size_t b = 0; b < kBuffers; ++b) *views[b] = std::span<double>(p + b * n, n);
    s.n = n;
    s.dt = config.dt;
    s.atol = config.atol;
    s.rtol = config.rtol;
    s.last_dt = config.dt;
    s.modulator = 1.0;
    s.n_substeps = config.n_substeps;
    s.method = config.method;
    return s;
}

Status UPDEStepper::step(std::span<double> phases, std::span<const double> omegas, std::span<double> knm,
                         double zeta, double psi, std::span<const double> alpha, std::optional<CouplingScan>* reuse) {
    if (auto st = integrators::check_phase_lengths(n, phases.size(), omegas.size()); !st) return st;
    auto nn = checked_mul(n, n);
    if (!nn || knm.size() != *nn || alpha.size() != *nn)
        return QelError::invalid_dimension(text::cat("expected ", square_text(n), "=", n, "*", n,
                                                     ", got knm=", knm.size(), " alpha=", alpha.size()));
    if (!all_finite(phases)) return QelError::integration_diverged("input phases contain NaN/Inf");
    CouplingScan scan;
    if (reuse && *reuse) {
        scan = **reuse;
    } else {
        // The lag scan also decides the fast path (every lag == 0.0, -0.0 included).
        const auto lags = scan_finite_zero(alpha);
        scan = CouplingScan{lags.finite && all_finite(knm), lags.zero};
    }
    if (!all_finite(omegas) || !scan.finite || !std::isfinite(modulator))
        return QelError::integration_diverged("omegas/knm/alpha/modulator contain NaN/Inf");
    if (!std::isfinite(zeta)) return QelError::integration_diverged("zeta is NaN/Inf");
    if (!std::isfinite(psi)) return QelError::integration_diverged("psi is NaN/Inf");

    const bool all_alpha_zero = scan.alpha_zero;
    std::span<const double> k_in(knm);

    if (method == IntegrationMethod::RK45) {
        rk45_step(phases, omegas, k_in, alpha, all_alpha_zero, zeta, psi);
    } else {
        auto f = [&](std::span<const double> y, std::span<double> out) {
            compute_derivative(n, y, sin_theta, cos_theta, omegas, k_in, alpha, all_alpha_zero, out, zeta, psi);
        };
        const double h = dt / static_cast<double>(n_substeps);
        if (method == IntegrationMethod::Euler) {
            for (std::uint32_t s = 0; s < n_substeps; ++s) integrators::euler_substep(f, phases, deriv, h);
        } else {
            const integrators::Rk4Buffers b{k1, k2, k3, k4, stage};
            for (std::uint32_t s = 0; s < n_substeps; ++s) integrators::rk4_substep(f, phases, b, h);
        }
    }

    if (plasticity)
        PlasticityModel::update(sin_theta, cos_theta, knm, plasticity->lr, plasticity->decay, modulator, dt);
    if (reuse) {
        if (plasticity)
            reuse->reset();
        else
            *reuse = scan;
    }
    wrap_phases(phases);
    return {};
}

void UPDEStepper::rk45_step(std::span<double> phases, std::span<const double> omegas, std::span<const double> knm,
                            std::span<const double> alpha, bool all_alpha_zero, double zeta, double psi) {
    auto f = [&](std::span<const double> y, std::span<double> out) {
        compute_derivative(n, y, sin_theta, cos_theta, omegas, knm, alpha, all_alpha_zero, out, zeta, psi);
    };
    const integrators::DopriBuffers b{k1, k2, k3, k4, k5, k6, k7, stage, y5};
    integrators::dopri_adaptive_step(f, phases, last_dt, dt, atol, rtol, b);
}

Status UPDEStepper::set_plasticity(double lr, double decay, double modulator_) {
    auto usable = [](double v) { return std::isfinite(v) && !(v < 0.0); };
    if (!usable(lr) || !usable(decay))
        return QelError::invalid_config("lr and decay must be finite and non-negative");
    plasticity = PlasticityModel{lr, decay};
    modulator = modulator_;
    return {};
}

}  // namespace qel::upde
