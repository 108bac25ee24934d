// The four-lane vectors below only travel between inlined functions of this
// file (the kit's row sums among them), so the note that their calling
// convention differs with AVX does not concern us.
#pragma GCC diagnostic ignored "-Wpsabi"
#include "engine/inertial.hpp"

#include <algorithm>
#include <cmath>

#include "engine/util/integrators.hpp"
#include "engine/util/lanes.hpp"
#include "engine/util/wrap.hpp"
#include "types/format.hpp"

namespace qel::inertial {

namespace {
// Four lanes; lane-wise + and * round exactly like the scalar ones.
using lanes::v4;

// Coupling sums of rows [b, e), in groups of four rows sharing one pass over
// the columns: each lane is one row with its own sum in its own order, so a
// group gives the bits of four single rows while the four sums hide each
// other's latency. A second copy for processors with AVX2 runs the same
// operations four lanes at a time (no fused multiply-add: every product is
// still rounded before it is added).
__attribute__((target_clones("avx2", "default"))) void coupling_rows(std::size_t n, std::size_t b, std::size_t e,
                                                                     const double* s, const double* c,
                                                                     const double* knm, double* out) {
    std::size_t i = b;
    for (; i + 4 <= e; i += 4) {
        const double* k = knm + i * n;
        const v4 si = {s[i], s[i + 1], s[i + 2], s[i + 3]};
        const v4 ci = {c[i], c[i + 1], c[i + 2], c[i + 3]};
        const v4 total = kit::sum_blocks8<v4>(n, [&](std::size_t j) {
            const v4 kk = {k[j], k[n + j], k[2 * n + j], k[3 * n + j]};
            return (s[j] * ci - c[j] * si) * kk;
        });
        for (std::size_t r = 0; r < 4; ++r) out[i + r] = total[r];
    }
    for (; i < e; ++i) {
        const double* k = knm + i * n;
        const double si = s[i], ci = c[i];
        out[i] = kit::sum_blocks8<double>(n, [&](std::size_t j) { return (s[j] * ci - c[j] * si) * k[j]; });
    }
}
}  // namespace

void compute_derivative(std::size_t n, std::span<const double> y, const Inputs& in, std::span<double> sin_cache,
                        std::span<double> cos_cache, std::span<double> dy) {
    const double* s = sin_cache.data();
    const double* c = cos_cache.data();
    for (std::size_t j = 0; j < n; ++j) ::sincos(y[j], &sin_cache[j], &cos_cache[j]);
    std::copy(y.begin() + n, y.begin() + 2 * n, dy.begin());
    const double* w = y.data() + n;
    double* dw = dy.data() + n;
    pool::for_chunks(n, kit::kRowChunk, [&](std::size_t b, std::size_t e) {
        coupling_rows(n, b, e, s, c, in.knm.data(), dw);
        for (std::size_t i = b; i < e; ++i) dw[i] = ((dw[i] + in.power[i]) - in.damping[i] * w[i]) / in.inertia[i];
    });
}

kit::StepperResult<InertialStepper> InertialStepper::create(std::size_t n, const IntegrationConfig& config) {
    InertialStepper s;
    auto built = kit::construct(s.core_, n, config, 2, {{&s.state_, 2}, {&s.sin_cache_, 1}, {&s.cos_cache_, 1}});
    if (!built) return std::move(built).error();
    s.n_ = n;
    return s;
}

Status InertialStepper::step(std::span<double> theta, std::span<double> omega_dot, const Inputs& in) {
    const std::size_t n = n_;
    if (theta.size() != n || omega_dot.size() != n || in.power.size() != n || in.inertia.size() != n ||
        in.damping.size() != n)
        return QelError::invalid_dimension(text::cat("expected theta/omega_dot/power/inertia/damping length ", n,
                                                     ", got ", theta.size(), "/", omega_dot.size(), "/",
                                                     in.power.size(), "/", in.inertia.size(), "/", in.damping.size()));
    if (!kit::is_square_len(in.knm.size(), n))
        return QelError::invalid_dimension(
            text::cat("expected knm length ", text::product(n, n), " got ", in.knm.size()));
    if (Status st = kit::check_finite("inertial inputs contain NaN/Inf",
                                      {theta, omega_dot, in.power, in.knm, in.inertia, in.damping});
        !st)
        return st;

    // One classical Runge-Kutta step of dt on [theta; w], whatever the method.
    std::copy(theta.begin(), theta.end(), state_.begin());
    std::copy(omega_dot.begin(), omega_dot.end(), state_.begin() + n);
    integrators::rk4_substep([&](std::span<const double> y,
                                 std::span<double> dy) { compute_derivative(n, y, in, sin_cache_, cos_cache_, dy); },
                             state_, core_.rk4_buffers(), core_.config().dt);
    for (std::size_t i = 0; i < n; ++i) theta[i] = wrap_phase(state_[i]);
    std::copy(state_.begin() + n, state_.end(), omega_dot.begin());
    return {};
}

Result<StepResult, InternalError> inertial_step(std::span<const double> theta, std::span<const double> omega_dot,
                                                const Inputs& in, std::size_t n, double dt) {
    auto built = InertialStepper::create(n, kit::dt_config(dt));
    if (!built) return kit::run_failure(built.error());
    StepResult r{{theta.begin(), theta.end()}, {omega_dot.begin(), omega_dot.end()}};
    if (Status st = built.value().step(r.theta, r.omega_dot, in); !st) return kit::run_failure(st.error());
    return r;
}

Result<RunResult, InternalError> inertial_run(std::span<const double> theta, std::span<const double> omega_dot,
                                              const Inputs& in, std::size_t n, double dt, std::uint64_t n_steps) {
    auto built = InertialStepper::create(n, kit::dt_config(dt));
    if (!built) return kit::run_failure(built.error());
    InertialStepper& stepper = built.value();
    RunResult r{{theta.begin(), theta.end()}, {omega_dot.begin(), omega_dot.end()}, {}, {}};
    auto theta_rows = kit::Trajectory::reserve(n_steps, n);
    if (!theta_rows) return std::move(theta_rows).error();
    auto omega_rows = kit::Trajectory::reserve(n_steps, n);
    if (!omega_rows) return std::move(omega_rows).error();
    Status st = run_steps(n_steps, [&](std::uint64_t) -> Status {
        if (Status s = stepper.step(r.theta, r.omega_dot, in); !s) return s;
        theta_rows.value().push(r.theta);
        omega_rows.value().push(r.omega_dot);
        return {};
    });
    if (!st) return kit::run_failure(st.error());
    r.theta_trajectory = theta_rows.value().take();
    r.omega_dot_trajectory = omega_rows.value().take();
    return r;
}

}  // namespace qel::inertial
