#include "engine/stuart_landau.hpp"

#include <cmath>

#include "engine/util/finite.hpp"
#include "engine/util/lanes.hpp"
#include "engine/util/wrap.hpp"
#include "types/format.hpp"

namespace qel::stuart_landau {

namespace {

// Two lanes, (phase sum, amplitude sum); lane-wise + and * round like scalars.
using lanes::v2;

// A negative amplitude, and a NaN, couple as 0.
inline double coupled_amplitude(double r) { return r > 0.0 ? r : 0.0; }

struct Rows {
    std::size_t n;
    const double* theta;
    const double* r;
    const double* s;
    const double* c;
    const Inputs* in;
    kit::Drive drive;
    double* out;

    template <kit::SumOrder Order>
    void row(std::size_t i, bool zero_lag) const {
        const double* k = in->knm.data() + i * n;
        const double* kr = in->knm_r.data() + i * n;
        v2 pa;
        if (zero_lag) {
            const double si = s[i], ci = c[i];
            pa = kit::row_sum<Order, v2>(n, [&](std::size_t j) {
                return v2{(s[j] * ci - c[j] * si) * k[j], (s[j] * si + ci * c[j]) * (coupled_amplitude(r[j]) * kr[j])};
            });
        } else {
            const double* a = in->alpha.data() + i * n;
            const double ti = theta[i];
            pa = kit::row_sum<Order, v2>(n, [&](std::size_t j) {
                double sn, cs;
                ::sincos((theta[j] - ti) - a[j], &sn, &cs);  // the bits of sin and cos
                return v2{k[j] * sn, cs * (coupled_amplitude(r[j]) * kr[j])};
            });
        }
        double d = in->omegas[i] + pa[0];
        if (drive.on) d = d + drive.term(s[i], c[i]);
        out[i] = d;
        const double ri = r[i];
        out[n + i] = (in->mu[i] - ri * ri) * ri + in->epsilon * pa[1];
    }
};

// Phases wrapped, negative amplitudes to 0 (NaN and -0.0 stay).
void post_step(std::size_t n, std::span<double> state) {
    wrap_phases(state.first(n));
    for (std::size_t i = n; i < 2 * n; ++i)
        if (state[i] < 0.0) state[i] = 0.0;
}

}  // namespace

void compute_derivative(std::size_t n, std::span<const double> y, const Inputs& in, bool zero_lag,
                        std::span<double> sin_cache, std::span<double> cos_cache, std::span<double> out) {
    for (std::size_t j = 0; j < n; ++j) ::sincos(y[j], &sin_cache[j], &cos_cache[j]);
    const Rows rows{n,
                    y.data(),
                    y.data() + n,
                    sin_cache.data(),
                    cos_cache.data(),
                    &in,
                    kit::Drive::of(in.zeta, in.psi),
                    out.data()};
    using kit::SumOrder;
    if (n < kParallelMinN) {
        for (std::size_t i = 0; i < n; ++i) rows.row<SumOrder::Plain>(i, zero_lag);
    } else if (zero_lag) {
        kit::rows_on_pool(n, [&](std::size_t i) { rows.row<SumOrder::Interleaved8>(i, true); });
    } else {
        kit::rows_on_pool(n, [&](std::size_t i) { rows.row<SumOrder::Plain>(i, false); });
    }
}

kit::StepperResult<StuartLandauStepper> StuartLandauStepper::create(std::size_t n, const IntegrationConfig& config) {
    StuartLandauStepper s;
    auto built = kit::construct(s.core_, n, config, 2, {{&s.sin_cache_, 1}, {&s.cos_cache_, 1}});
    if (!built) return std::move(built).error();
    s.n_ = n;
    return s;
}

Status StuartLandauStepper::check_inputs(std::size_t state_len, const Inputs& in) const {
    const std::size_t n = n_;
    // 2n fits: the stepper holds buffers of 2n values.
    if (state_len != 2 * n || in.omegas.size() != n || in.mu.size() != n)
        return QelError::invalid_dimension(text::cat("expected state=", 2 * n, ", omegas=", n, ", mu=", n,
                                                     "; got state=", state_len, ", omegas=", in.omegas.size(),
                                                     ", mu=", in.mu.size()));
    if (!kit::is_square_len(in.knm.size(), n) || !kit::is_square_len(in.knm_r.size(), n) ||
        !kit::is_square_len(in.alpha.size(), n))
        return QelError::invalid_dimension(text::cat("expected knm/knm_r/alpha length ", text::product(n, n), " got ",
                                                     in.knm.size(), "/", in.knm_r.size(), "/", in.alpha.size()));
    return {};
}

void StuartLandauStepper::advance(std::span<double> state, const Inputs& in, bool zero_lag) {
    const std::size_t n = n_;
    core_.advance([&](std::span<const double> y,
                      std::span<double> out) { compute_derivative(n, y, in, zero_lag, sin_cache_, cos_cache_, out); },
                  state, integrators::StageScaling::SlopeFirst);
    post_step(n, state);
}

constexpr const char* kNonFinite = "stuart-landau inputs contain NaN/Inf";

Status StuartLandauStepper::step(std::span<double> state, const Inputs& in) {
    if (Status st = check_inputs(state.size(), in); !st) return st;
    if (Status st = kit::check_finite(kNonFinite, {state, in.omegas, in.mu, in.knm, in.knm_r, in.alpha},
                                      {in.zeta, in.psi, in.epsilon});
        !st)
        return st;
    advance(state, in, kit::all_alpha_zero(in.alpha));
    return {};
}

Status StuartLandauStepper::run(std::span<double> state, const Inputs& in, std::uint64_t n_steps) {
    if (n_steps == 0) return {};
    // The inputs other than the state are the same at every step: their
    // checks and the lag scan give the same answers each time, so they are
    // made once; the state is checked before every step.
    if (Status st = check_inputs(state.size(), in); !st) return st;
    Status inputs_ok =
        kit::check_finite(kNonFinite, {in.omegas, in.mu, in.knm, in.knm_r, in.alpha}, {in.zeta, in.psi, in.epsilon});
    const bool zero_lag = kit::all_alpha_zero(in.alpha);
    return run_steps(n_steps, [&](std::uint64_t) -> Status {
        if (Status st = kit::check_finite(kNonFinite, {state}); !st) return st;
        if (!inputs_ok) return inputs_ok;
        advance(state, in, zero_lag);
        return {};
    });
}

}  // namespace qel::stuart_landau
