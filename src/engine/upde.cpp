#include "engine/upde.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "engine/util/checked.hpp"
#include "engine/util/finite.hpp"
#include "engine/util/lanes.hpp"
#include "engine/util/pool.hpp"
#include "engine/util/stepper_kit.hpp"
#include "engine/util/wrap.hpp"
#include "types/format.hpp"

namespace qel::upde {

namespace {

using kit::Drive;

// Two lanes of doubles; lane-wise + and * round exactly like the scalar ones.
using lanes::v2;

struct Rows {
    static constexpr std::size_t kGroup = 8;
    static constexpr std::size_t kStream = 4;
    std::size_t n;
    const double* theta;
    const double* sin_t;
    const double* cos_t;
    const double* omegas;
    const double* knm;
    const double* alpha;
    double* out;
    Drive drive;

    // Each row returns whether its coupling sums are finite. A non-finite
    // coupling always makes them NaN or infinite (its products are, and no
    // finite term undoes that), so finite sums clear the row's couplings.
    bool general(std::size_t i) const {
        const double ti = theta[i];
        const double* k = knm + i * n;
        const double* a = alpha + i * n;
        double s = 0.0;
        for (std::size_t j = 0; j < n; ++j) s = s + std::sin((theta[j] - ti) - a[j]) * k[j];
        double o = s + omegas[i];
        if (drive.on) o = o + drive.term(sin_t[i], cos_t[i]);
        out[i] = o;
        return std::isfinite(s);
    }

    // Every lag of rows r0 .. r1 compares equal to 0.0 (-0.0 included): an
    // integer test that vectorises.
    bool lags_zero(std::size_t r0, std::size_t r1) const {
        std::uint64_t any = 0;
        for (std::size_t t = r0 * n; t < r1 * n; ++t) any |= finite_detail::bits(alpha[t]) << 1;
        return any == 0;
    }

    bool fast_finish(std::size_t i, double S, double C) const {
        double o = (S * cos_t[i] - C * sin_t[i]) + omegas[i];
        if (drive.on) o = drive.term(sin_t[i], cos_t[i]) + o;
        out[i] = o;
        return std::isfinite(S) & std::isfinite(C);
    }

    // Plain column order, kGroup rows at a time: each row keeps its own (S, C)
    // lane pair and its own order; the rows only share the loop, which hides
    // the latency of the adds.
    bool fast_serial_group(std::size_t i) const {
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
        bool finite = true;
        for (std::size_t r = 0; r < kGroup; ++r) finite &= fast_finish(i + r, acc[r][0], acc[r][1]);
        return finite;
    }

    // Plain column order.
    bool fast_serial(std::size_t i) const {
        const double* k = knm + i * n;
        double S = 0.0, C = 0.0;
        for (std::size_t j = 0; j < n; ++j) {
            S = S + k[j] * sin_t[j];
            C = C + k[j] * cos_t[j];
        }
        return fast_finish(i, S, C);
    }

    // Eight interleaved partial sums (column j feeds partial j mod 8), added
    // 0..7, then the n mod 8 tail columns in order: the order of
    // kit::sum_interleaved8, here with the partials held as four two-lane
    // vectors fed by adjacent columns (a quarter faster than the kit's
    // generic form with (S, C) lanes, same bits).
    // R rows at a time (kStream, or 1 for the rest of a chunk), each with its
    // own partials and order: more rows of knm stream in at once, and the
    // loads of the sines are shared (a quarter faster on one core).
    template <std::size_t R>
    bool fast_blocked(std::size_t i) const {
        const double* k[R];
        for (std::size_t r = 0; r < R; ++r) k[r] = knm + (i + r) * n;
        v2 ps[R][4] = {}, pc[R][4] = {};
        const std::size_t body = n - n % 8;
        for (std::size_t j = 0; j < body; j += 8) {
            for (std::size_t l = 0; l < 4; ++l) {
                v2 ss, cc;
                std::memcpy(&ss, sin_t + j + 2 * l, sizeof ss);
                std::memcpy(&cc, cos_t + j + 2 * l, sizeof cc);
                for (std::size_t r = 0; r < R; ++r) {
                    v2 kk;
                    std::memcpy(&kk, k[r] + j + 2 * l, sizeof kk);
                    ps[r][l] = ps[r][l] + kk * ss;
                    pc[r][l] = pc[r][l] + kk * cc;
                }
            }
        }
        bool finite = true;
        for (std::size_t r = 0; r < R; ++r) {
            double S = 0.0, C = 0.0;
            for (std::size_t l = 0; l < 4; ++l) {
                S = S + ps[r][l][0];
                S = S + ps[r][l][1];
                C = C + pc[r][l][0];
                C = C + pc[r][l][1];
            }
            for (std::size_t j = body; j < n; ++j) {
                S = S + k[r][j] * sin_t[j];
                C = C + k[r][j] * cos_t[j];
            }
            finite &= fast_finish(i + r, S, C);
        }
        return finite;
    }
};

// Rows per work item: kRowChunk, cut finer when that leaves fewer than
// `per_worker` items per worker. The general form's rows cost a sine per pair
// and take more, smaller items, which even out workers that other processes
// slow down. Rows are independent, so no split changes a bit.
std::size_t row_chunk(std::size_t n, std::size_t per_worker) {
    const std::size_t fine = n / (per_worker * pool::worker_count());
    return fine >= kRowChunk ? kRowChunk : fine == 0 ? 1 : fine;
}

// Which form of the coupling sums an evaluation takes. Guess: the zero-lag
// form, each row first checking that its own lags are all +-0.0; the first
// row with a lag stops every worker and the evaluation reports the lag
// instead of a result. One pass over knm and alpha together, instead of a
// pass over alpha before the derivative's over knm.
enum class Form { General, ZeroLag, Guess };

struct Evaluation {
    bool sums_finite = true;
    bool lag_found = false;
};

Evaluation evaluate(std::size_t n, std::span<const double> phases, std::span<double> sin_theta,
                    std::span<double> cos_theta, std::span<const double> omegas, std::span<const double> knm,
                    std::span<const double> alpha, Form form, std::span<double> out, double zeta, double psi) {
    // glibc's sincos gives the bits of sin and cos, at about half the cost.
    for (std::size_t j = 0; j < n; ++j) ::sincos(phases[j], &sin_theta[j], &cos_theta[j]);
    Rows rows{n,          phases.data(), sin_theta.data(), cos_theta.data(), omegas.data(),
              knm.data(), alpha.data(),  out.data(),       Drive{}};
    rows.drive = Drive::of(zeta, psi);
    const bool guess = form == Form::Guess;

    if (n < kParallelMinN) {
        Evaluation ev;
        if (guess && !rows.lags_zero(0, n)) return {true, true};
        if (form != Form::General) {
            std::size_t i = 0;
            for (; i + Rows::kGroup <= n; i += Rows::kGroup) ev.sums_finite &= rows.fast_serial_group(i);
            for (; i < n; ++i) ev.sums_finite &= rows.fast_serial(i);
        } else
            for (std::size_t i = 0; i < n; ++i) ev.sums_finite &= rows.general(i);
        return ev;
    }
    std::atomic<bool> nonfinite{false}, lag{false};
    pool::for_chunks(n, row_chunk(n, form == Form::General ? 32 : 8), [&](std::size_t b, std::size_t e) {
        bool finite = true;
        if (form == Form::General) {
            for (std::size_t i = b; i < e; ++i) finite &= rows.general(i);
        } else {
            for (std::size_t i = b; i < e; i += Rows::kStream) {
                const std::size_t take = e - i < Rows::kStream ? e - i : Rows::kStream;
                if (guess) {
                    if (lag.load(std::memory_order_relaxed)) return;
                    if (!rows.lags_zero(i, i + take)) {
                        lag.store(true, std::memory_order_relaxed);
                        return;
                    }
                }
                if (take == Rows::kStream)
                    finite &= rows.fast_blocked<Rows::kStream>(i);
                else
                    for (std::size_t r = i; r < e; ++r) finite &= rows.fast_blocked<1>(r);
            }
        }
        if (!finite) nonfinite.store(true, std::memory_order_relaxed);
    });
    return {!nonfinite.load(), lag.load()};
}

}  // namespace

bool compute_derivative(std::size_t n, std::span<const double> phases, std::span<double> sin_theta,
                        std::span<double> cos_theta, std::span<const double> omegas, std::span<const double> knm,
                        std::span<const double> alpha, bool all_alpha_zero, std::span<double> out, double zeta,
                        double psi) {
    return evaluate(n, phases, sin_theta, cos_theta, omegas, knm, alpha, all_alpha_zero ? Form::ZeroLag : Form::General,
                    out, zeta, psi)
        .sums_finite;
}

QelResult<UPDEStepper> UPDEStepper::create(std::size_t n, const IntegrationConfig& config) {
    UPDEStepper s;
    auto built = kit::construct<kit::Oversize::Allocate>(s.core_, n, config, 1,
                                                         {{&s.sin_theta_, 1}, {&s.cos_theta_, 1}, {&s.first_, 1}});
    if (!built) return std::move(built).error();
    s.n_ = n;
    return s;
}

Status UPDEStepper::step(std::span<double> phases, std::span<const double> omegas, std::span<double> knm, double zeta,
                         double psi, std::span<const double> alpha, std::optional<CouplingScan>* reuse) {
    const std::size_t n = n_;
    if (auto st = check_phase_lengths(n, phases.size(), omegas.size()); !st) return st;
    auto nn = checked_mul(n, n);
    if (!nn || knm.size() != *nn || alpha.size() != *nn)
        return QelError::invalid_dimension(text::cat("expected ", text::product(n, n), "=", n, "*", n,
                                                     ", got knm=", knm.size(), " alpha=", alpha.size()));
    if (!all_finite(phases)) return QelError::integration_diverged("input phases contain NaN/Inf");
    // Without a kept scan, the first derivative evaluation (at the unchanged
    // phases, into first_ and the sine buffers, which every later evaluation
    // rewrites) also scans: its guess finds whether there are lags, and
    // finite coupling sums clear knm without a pass of its own. Only
    // non-finite sums, or an earlier failure to report first, call for the
    // full scan of knm.
    CouplingScan scan;
    bool have_first = false;
    if (reuse && *reuse) {
        scan = **reuse;
    } else {
        // The zero-lag form runs when every lag == 0.0, -0.0 included.
        const bool can_evaluate =
            all_finite(omegas) && std::isfinite(plasticity_.modulator) && std::isfinite(zeta) && std::isfinite(psi);
        Evaluation ev;
        if (can_evaluate) {
            ev = evaluate(n, phases, sin_theta_, cos_theta_, omegas, knm, alpha, Form::Guess, first_, zeta, psi);
            scan = CouplingScan{true, true};
        }
        if (!can_evaluate || ev.lag_found) {
            const auto lags = scan_finite_zero(alpha);
            scan = CouplingScan{lags.finite, lags.zero};
            if (can_evaluate && scan.finite)
                ev = evaluate(n, phases, sin_theta_, cos_theta_, omegas, knm, alpha,
                              scan.alpha_zero ? Form::ZeroLag : Form::General, first_, zeta, psi);
        }
        have_first = can_evaluate && scan.finite && ev.sums_finite;
        scan.finite = scan.finite && (have_first || all_finite(knm));
    }
    if (!all_finite(omegas) || !scan.finite || !std::isfinite(plasticity_.modulator))
        return QelError::integration_diverged("omegas/knm/alpha/modulator contain NaN/Inf");
    if (!std::isfinite(zeta)) return QelError::integration_diverged("zeta is NaN/Inf");
    if (!std::isfinite(psi)) return QelError::integration_diverged("psi is NaN/Inf");

    const bool all_alpha_zero = scan.alpha_zero;
    std::span<const double> k_in(knm);
    core_.advance(
        [&](std::span<const double> y, std::span<double> out) {
            if (have_first && y.data() == phases.data()) {
                have_first = false;
                std::copy(first_.begin(), first_.end(), out.begin());
                return;
            }
            compute_derivative(n, y, sin_theta_, cos_theta_, omegas, k_in, alpha, all_alpha_zero, out, zeta, psi);
        },
        phases);

    if (const auto& model = plasticity_.model)
        plasticity::PlasticityModel::update(sin_theta_, cos_theta_, knm, model->lr, model->decay, plasticity_.modulator,
                                            core_.config().dt);
    if (reuse) {
        if (plasticity_.model)
            reuse->reset();
        else
            *reuse = scan;
    }
    wrap_phases(phases);
    return {};
}

Status UPDEStepper::run(std::span<double> phases, std::span<const double> omegas, std::span<double> knm, double zeta,
                        double psi, std::span<const double> alpha, std::uint64_t n_steps) {
    std::optional<CouplingScan> scan;
    return run_steps(n_steps, [&](std::uint64_t) { return step(phases, omegas, knm, zeta, psi, alpha, &scan); });
}

}  // namespace qel::upde
