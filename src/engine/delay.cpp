#include "engine/delay.hpp"

#include <cmath>
#include <utility>

#include "engine/util/checked.hpp"
#include "engine/util/finite.hpp"
#include "engine/util/pair_rows.hpp"
#include "engine/util/pool.hpp"
#include "engine/util/stepper_checks.hpp"
#include "engine/util/wrap.hpp"

namespace qel::delay {

namespace {
constexpr std::size_t kRowChunk = 32;
constexpr std::size_t kMaxValues = std::size_t{1} << 60;
constexpr const char* kNonFinite = "delay step inputs contain NaN/Inf";
}  // namespace

Result<DelayedStepper, std::variant<QelError, InternalError>> DelayedStepper::create(std::size_t n,
                                                                                     const IntegrationConfig& config,
                                                                                     std::uint64_t delay_steps) {
    using Failure = std::variant<QelError, InternalError>;
    if (n == 0) return Failure{QelError::invalid_dimension("n must be > 0")};
    if (Status st = config.validate(); !st) return Failure{std::move(st).error()};
    // D + 1 slots of 2n values; D = 2^64 - 1 must not wrap to an empty ring.
    auto slots = checked_add(delay_steps, 1);
    auto per_slot = checked_mul(n, 2);
    auto ring = slots && per_slot ? checked_mul(*slots, *per_slot) : std::nullopt;
    if (!ring || *ring >= kMaxValues) return Failure{InternalError("capacity overflow")};
    DelayedStepper s;
    if (Status st = s.core_.init(config, n, {{&s.history_, *ring}, {&s.sin_buf_, n}, {&s.cos_buf_, n}, {&s.angles_, n}});
        !st)
        return Failure{std::move(st).error()};
    s.n_ = n;
    s.delay_ = delay_steps;
    return s;
}

DelayedStepper::Drive DelayedStepper::drive(double zeta, double psi) {
    if (zeta == 0.0) return {};
    return {true, std::sin(psi) * zeta, std::cos(psi) * zeta};
}

void DelayedStepper::derivative(std::span<const double> theta, std::span<const double> omegas,
                                std::span<const double> knm, std::span<const double> alpha, bool alpha_zero,
                                const Drive& drive, std::span<double> out) {
    const std::size_t n = n_;
    double* hs_w = history_.data() + 2 * n * write_idx_;
    double* hc_w = hs_w + n;
    for (std::size_t i = 0; i < n; ++i) {
        ::sincos(theta[i], &sin_buf_[i], &cos_buf_[i]);
        hs_w[i] = sin_buf_[i];
        hc_w[i] = cos_buf_[i];
    }
    // Until D steps are done (always, for D = 0) the slot just written stands
    // in; from then on the next slot holds the pairs of D steps ago.
    std::uint64_t read = write_idx_;
    if (delay_ >= 1 && steps_taken_ >= delay_) read = (write_idx_ + 1) % (delay_ + 1);
    const double* hs = history_.data() + 2 * n * read;
    const double* hc = hs + n;
    // The delayed angle of a partner is the same for every row: one atan2 per
    // partner instead of one per pair.
    if (!alpha_zero)
        for (std::size_t j = 0; j < n; ++j) angles_[j] = std::atan2(hs[j], hc[j]);
    const pair_rows::Sources q{n,           angles_.data(), hs,          hc,          theta.data(), sin_buf_.data(),
                               cos_buf_.data(), knm.data(),  alpha.data()};
    auto finish = [&](std::size_t i, double p) {
        const double base = p + omegas[i];
        out[i] = drive.on ? base + (cos_buf_[i] * drive.zs - sin_buf_[i] * drive.zc) : base + 0.0;
    };
    if (n < kParallelMinN) {
        std::size_t i = 0;
        if (alpha_zero) {
            double p[pair_rows::kRowGroup];
            for (; i + pair_rows::kRowGroup <= n; i += pair_rows::kRowGroup) {
                pair_rows::zero_lag_rows8(q, i, p);
                for (std::size_t r = 0; r < pair_rows::kRowGroup; ++r) finish(i + r, p[r]);
            }
            for (; i < n; ++i) finish(i, pair_rows::zero_lag(q, i));
        } else {
            for (; i < n; ++i) finish(i, pair_rows::general(q, i));
        }
        return;
    }
    pool::for_chunks(n, kRowChunk, [&](std::size_t b, std::size_t e) {
        if (alpha_zero)
            for (std::size_t i = b; i < e; ++i) finish(i, pair_rows::zero_lag_blocks8(q, i));
        else
            for (std::size_t i = b; i < e; ++i) finish(i, pair_rows::general(q, i));
    });
}

Status DelayedStepper::step(std::span<double> phases, std::span<const double> omegas, std::span<const double> knm,
                            std::span<const double> alpha, double zeta, double psi, const Drive& drive,
                            InputScan& scan) {
    if (Status st = check_pairwise_lengths(n_, phases.size(), omegas.size(), knm.size(), alpha.size()); !st)
        return st;
    if (!scan.checked) {
        if (Status st = check_finite({phases, omegas, knm, alpha}, {zeta, psi}, kNonFinite); !st) return st;
        scan = {true, scan_finite_zero(alpha).zero};
    } else if (Status st = check_finite({phases}, {}, kNonFinite); !st) {
        return st;
    }
    core_.advance(
        [&](std::span<const double> y, std::span<double> out) {
            derivative(y, omegas, knm, alpha, scan.alpha_zero, drive, out);
        },
        phases);
    wrap_phases(phases);
    write_idx_ = (write_idx_ + 1) % (delay_ + 1);
    ++steps_taken_;
    return {};
}

Result<void, InternalError> delayed_kuramoto_run(std::span<double> phases, std::span<const double> omegas,
                                                 std::span<const double> knm, std::span<const double> alpha,
                                                 std::size_t n, double zeta, double psi, double dt,
                                                 std::uint64_t delay_steps, std::uint64_t n_steps) {
    const IntegrationConfig config{dt, 1e-6, 1e-3, 1, IntegrationMethod::Euler};
    auto made = DelayedStepper::create(n, config, delay_steps);
    if (!made) {
        if (auto* e = std::get_if<QelError>(&made.error())) return stepper_failure(*e);
        return std::get<InternalError>(std::move(made).error());
    }
    DelayedStepper& s = made.value();
    const DelayedStepper::Drive d = DelayedStepper::drive(zeta, psi);
    DelayedStepper::InputScan scan;
    Status st = run_steps(n_steps, [&](std::uint64_t) { return s.step(phases, omegas, knm, alpha, zeta, psi, d, scan); });
    if (!st) return stepper_failure(st.error());
    return {};
}

}  // namespace qel::delay
