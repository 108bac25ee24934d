#include "engine/delay.hpp"

#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>

#include "engine/util/checked.hpp"
#include "engine/util/wrap.hpp"

namespace qel::delay {

namespace {
constexpr const char* kNonFinite = "delay step inputs contain NaN/Inf";
}  // namespace

kit::StepperResult<DelayedStepper> DelayedStepper::create(std::size_t n, const IntegrationConfig& config,
                                                          std::uint64_t delay_steps) {
    // D + 1 slots of two values per oscillator. A slot count that overflows
    // (D = 2^64 - 1 would wrap to an empty ring) is given as the largest
    // width, which the construction refuses as "capacity overflow" after its
    // checks of n and the configuration.
    auto slots = checked_add(delay_steps, 1);
    auto width = slots ? checked_mul(*slots, 2) : std::nullopt;
    DelayedStepper s;
    if (auto st = kit::construct(s.core_, n, config, 1,
                                 {{&s.history_, width.value_or(SIZE_MAX)},
                                  {&s.sin_buf_, 1},
                                  {&s.cos_buf_, 1},
                                  {&s.angles_, 1}});
        !st)
        return std::move(st).error();
    s.n_ = n;
    s.delay_ = delay_steps;
    return s;
}

void DelayedStepper::derivative(std::span<const double> theta, std::span<const double> omegas,
                                std::span<const double> knm, std::span<const double> alpha, bool alpha_zero,
                                const kit::Drive& drive, std::span<double> out) {
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
    const double* sb = sin_buf_.data();
    const double* cb = cos_buf_.data();
    const double* x = angles_.data();
    auto finish = [&](std::size_t i, double p) {
        const double base = p + omegas[i];
        out[i] = drive.on ? base + drive.term(sb[i], cb[i]) : base + 0.0;
    };
    auto row = [&]<kit::SumOrder Order>(std::size_t i) {
        const double* k = knm.data() + i * n;
        double p;
        if (alpha_zero) {
            const double si = sb[i], ci = cb[i];
            p = kit::row_sum<Order, double>(n, [&](std::size_t j) { return (hs[j] * ci - hc[j] * si) * k[j]; });
        } else {
            const double* a = alpha.data() + i * n;
            const double ti = theta[i];
            p = kit::row_sum<Order, double>(n, [&](std::size_t j) { return std::sin((x[j] - ti) - a[j]) * k[j]; });
        }
        finish(i, p);
    };
    if (n >= kParallelMinN) {
        // On the pool the zero-lag rows are summed in blocks of eight.
        kit::rows_on_pool(n, [&](std::size_t i) {
            if (alpha_zero)
                row.template operator()<kit::SumOrder::Blocks8>(i);
            else
                row.template operator()<kit::SumOrder::Plain>(i);
        });
        return;
    }
    std::size_t i = 0;
    if (alpha_zero) {
        for (; i + 8 <= n; i += 8) {
            const kit::Lanes8 p =
                kit::sum_plain<kit::Lanes8>(n, kit::ZeroLagRows8::at(n, i, hs, hc, sb, cb, knm.data()));
            for (std::size_t r = 0; r < 8; ++r) finish(i + r, p[r]);
        }
    }
    for (; i < n; ++i) row.template operator()<kit::SumOrder::Plain>(i);
}

Status DelayedStepper::step(std::span<double> phases, std::span<const double> omegas, std::span<const double> knm,
                            std::span<const double> alpha, double zeta, double psi, const kit::Drive& drive,
                            InputScan& scan) {
    if (Status st = check_phase_lengths(n_, phases.size(), omegas.size(), LengthText::Extended); !st) return st;
    if (Status st = kit::check_matrix_lengths(n_, knm.size(), alpha.size()); !st) return st;
    if (!scan.checked) {
        if (Status st = kit::check_finite(kNonFinite, {phases, omegas, knm, alpha}, {zeta, psi}); !st) return st;
        scan = {true, kit::all_alpha_zero(alpha)};
    } else if (Status st = kit::check_finite(kNonFinite, {phases}); !st) {
        return st;
    }
    core_.advance([&](std::span<const double> y,
                      std::span<double> out) { derivative(y, omegas, knm, alpha, scan.alpha_zero, drive, out); },
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
    auto made = DelayedStepper::create(n, kit::dt_config(dt), delay_steps);
    if (!made) return kit::run_failure(made.error());
    DelayedStepper& s = made.value();
    const kit::Drive d = kit::Drive::of(zeta, psi);
    DelayedStepper::InputScan scan;
    Status st =
        run_steps(n_steps, [&](std::uint64_t) { return s.step(phases, omegas, knm, alpha, zeta, psi, d, scan); });
    if (!st) return kit::run_failure(st.error());
    return {};
}

}  // namespace qel::delay
