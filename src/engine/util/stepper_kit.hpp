// What the extended phase steppers (Stuart-Landau, inertial, hypergraph,
// simplicial, splitting, delayed, torus, swarmalator) share on top of the
// stepper core (stepper_core.hpp: configuration, last_dt, scratch, Euler, RK4
// and Dormand-Prince over a state of any length).
//
//   Errors       StepperError (a QelError, or an InternalError such as
//                "capacity overflow"); run_failure() turns a stepper's error
//                into what a module run function raises: "stepper init
//                failed: " + QelError::debug().
//   Sizes        value_count(a, b): a*b as a buffer length, "capacity
//                overflow" when it overflows or reaches 2^60 values.
//   Construction construct(core, n, config, state_width, {{&view, width}, ..}):
//                n == 0, then config.validate(), then every buffer below 2^60
//                values, then the core's zero-filled block; dt_config(dt) is
//                the configuration of the steppers that take only dt. Every
//                stepper is built through it; construct<Oversize::Allocate>
//                (the UPDE steppers) leaves large sizes to the allocator.
//   Checks       check_phase_lengths(.., LengthText::Extended) (stepper_core.hpp)
//                and kit::check_matrix_lengths (the two shared length
//                messages; is_square_len and text::product for a
//                model's own n*n message), check_finite(message, arrays,
//                scalars), need / need_square (the input limits of the
//                unvalidated runs, tested before their first step).
//   Coupling     all_alpha_zero(alpha) (the zero-lag flag), Drive (the drive
//                factors), the row sums in three orders (sum_plain,
//                sum_blocks8, sum_interleaved8, or row_sum<SumOrder, Acc>;
//                Acc may be a vector type whose lanes are several sums or
//                several rows, each lane in the same order) and
//                pairwise_row() built on them, zero_lag_rows() (eight
//                zero-lag rows side by side), rows_on_pool() (the pool loop
//                over rows, fixed chunks).
//   Stepping     the core's advance(f, y, StageScaling) (Euler or RK4
//                substeps, or the adaptive step with the model's grouping of
//                the second stage), integrators::rk4_substep with
//                core.rk4_buffers() for a model that always takes RK4, and
//                run_steps (stepper_core.hpp) for runs that honour Ctrl-C.
//   Results      wrap_phase / wrap_phases (wrap.hpp), Trajectory (a flat
//                time-major record of rows, reserved up front).
#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "engine/util/checked.hpp"
#include "engine/util/finite.hpp"
#include "engine/util/lanes.hpp"
#include "engine/util/pool.hpp"
#include "engine/util/stepper_core.hpp"
#include "engine/util/wrap.hpp"
#include "types/config.hpp"
#include "types/error.hpp"
#include "types/failure.hpp"
#include "types/format.hpp"

namespace qel::kit {

// ---------------------------------------------------------------------------
// Errors.

// A stepper's constructor fails with a QelError (n == 0, the configuration)
// or an InternalError ("capacity overflow").
using StepperError = std::variant<QelError, InternalError>;
template <class T>
using StepperResult = Result<T, StepperError>;

// The module run functions report every stepper error as an internal error:
// "stepper init failed: InvalidDimension(\"n must be > 0\")". Internal errors
// pass unchanged.
inline InternalError run_failure(const QelError& e, std::source_location where = std::source_location::current()) {
    return InternalError("stepper init failed: " + e.debug(), where);
}
inline InternalError run_failure(const StepperError& e, std::source_location where = std::source_location::current()) {
    if (const QelError* q = std::get_if<QelError>(&e)) return run_failure(*q, where);
    return std::get<InternalError>(e);
}

// ---------------------------------------------------------------------------
// Sizes.

// a*b as the length of one buffer; "capacity overflow" when the product
// overflows or reaches 2^60 values (buffer_len, checked.hpp).
inline Result<std::size_t, InternalError> value_count(std::size_t a, std::size_t b = 1,
                                                      std::source_location where = std::source_location::current()) {
    auto v = buffer_len(a, b);
    if (!v) return InternalError("capacity overflow", where);
    return *v;
}

// len == n*n, false when n*n overflows.
inline bool is_square_len(std::size_t len, std::size_t n) {
    auto nn = checked_mul(n, n);
    return nn && *nn == len;
}

// ---------------------------------------------------------------------------
// Construction.

// A stepper's own scratch view: width values per oscillator.
struct PerOscillator {
    std::span<double>* view;
    std::size_t width;
};

// The configuration of the steppers that take only dt from their caller.
inline IntegrationConfig dt_config(double dt) { return IntegrationConfig{dt, 1e-6, 1e-3, 1, IntegrationMethod::Euler}; }

// What construct does with a buffer of 2^60 values or more: refuse it as
// "capacity overflow" (internal), or ask the allocator for it, whose
// std::bad_alloc the caller sees (the UPDE steppers, whose only errors are
// QelErrors).
enum class Oversize : bool { Refuse, Allocate };

// n == 0 ("n must be > 0"), then config.validate() (its InvalidConfig), then
// "capacity overflow" when the state (state_width * n values) or any own view
// would hold 2^60 values or more; then the core's zero-filled scratch, the
// integrators' buffers of state_width * n values and the views. A block that
// cannot be had throws std::bad_alloc.
template <Oversize O = Oversize::Refuse>
auto construct(StepperCore& core, std::size_t n, const IntegrationConfig& config, std::size_t state_width,
               std::initializer_list<PerOscillator> own, std::source_location where = std::source_location::current())
    -> Result<void, std::conditional_t<O == Oversize::Refuse, StepperError, QelError>> {
    using E = std::conditional_t<O == Oversize::Refuse, StepperError, QelError>;
    auto count = [&](std::size_t width) -> Result<std::size_t, InternalError> {
        if constexpr (O == Oversize::Refuse) {
            return value_count(width, n, where);
        } else {
            auto len = checked_mul(width, n);
            if (!len) throw std::bad_alloc();  // as the core does for a sum it cannot hold
            return *len;
        }
    };
    if (n == 0) return E(QelError::invalid_dimension("n must be > 0"));
    if (Status st = config.validate(); !st) return E(std::move(st).error());
    auto state_len = count(state_width);
    if constexpr (O == Oversize::Refuse)
        if (!state_len) return E(std::move(state_len).error());
    std::vector<ScratchView> views;
    views.reserve(own.size());
    for (const PerOscillator& v : own) {
        auto len = count(v.width);
        if constexpr (O == Oversize::Refuse)
            if (!len) return E(std::move(len).error());
        views.push_back({v.view, len.value()});
    }
    // The core's block is the sum of the buffers; a sum too large for memory is bad_alloc there.
    if (Status st = core.init(config, state_len.value(), std::span<const ScratchView>(views)); !st)
        return E(std::move(st).error());
    return {};
}

// ---------------------------------------------------------------------------
// Checks of a step's inputs. Lengths come before finiteness.

// "expected knm/alpha length {n*n} got {knm}/{alpha}".
inline Status check_matrix_lengths(std::size_t n, std::size_t n_knm, std::size_t n_alpha) {
    if (is_square_len(n_knm, n) && is_square_len(n_alpha, n)) return {};
    return QelError::invalid_dimension(
        text::cat("expected knm/alpha length ", text::product(n, n), " got ", n_knm, "/", n_alpha));
}

// Every value of every array and every scalar finite, else IntegrationDiverged
// with the model's message ("stuart-landau inputs contain NaN/Inf"), which
// does not say which value failed.
inline Status check_finite(std::string_view message, std::initializer_list<std::span<const double>> arrays,
                           std::initializer_list<double> scalars = {}) {
    bool ok = true;
    for (double s : scalars) ok = ok && std::isfinite(s);
    for (std::span<const double> a : arrays) ok = ok && all_finite(a);
    if (ok) return {};
    return QelError::integration_diverged(std::string(message));
}

// Input limits of the unvalidated paths, tested before their first step: an
// input shorter than the steps read is an InternalError naming it.
inline std::optional<InternalError> need(const char* name, std::size_t needed, std::size_t given,
                                         std::source_location where = std::source_location::current()) {
    if (given >= needed) return std::nullopt;
    return InternalError(text::cat("index out of range: ", name, " needs at least ", needed, " values, got ", given),
                         where);
}
// As need(), for n*n values (an overflowed n*n is never had).
inline std::optional<InternalError> need_square(const char* name, std::size_t n, std::size_t given,
                                                std::source_location where = std::source_location::current()) {
    auto nn = checked_mul(n, n);
    if (nn && given >= *nn) return std::nullopt;
    return InternalError(text::cat("index out of range: ", name, " needs at least ", text::product(n, n),
                                   " values, got ", given),
                         where);
}

// ---------------------------------------------------------------------------
// Coupling.

// The zero-lag flag: every lag compares equal to 0.0 (-0.0 included; a NaN
// does not; an empty alpha does). Lags are mostly all zero or nonzero from the
// start: a look at the head settles the second case without reading n*n
// values.
inline bool all_alpha_zero(std::span<const double> alpha) {
    const std::size_t head = alpha.size() < 1024 ? alpha.size() : 1024;
    for (std::size_t j = 0; j < head; ++j)
        if (!(alpha[j] == 0.0)) return false;
    return scan_finite_zero(alpha.subspan(head)).zero;
}

// zeta sin(psi - theta_i), formed as c_i (zeta sin psi) - s_i (zeta cos psi)
// from one sine and cosine of psi. Off when zeta == 0.0 (-0.0 too; a NaN zeta
// is on), and then psi is not looked at.
struct Drive {
    bool on = false;
    double zs = 0.0, zc = 0.0;  // zeta sin psi, zeta cos psi

    static Drive of(double zeta, double psi) {
        if (zeta == 0.0) return {};
        return {true, zeta * std::sin(psi), zeta * std::cos(psi)};
    }
    double term(double s, double c) const { return c * zs - s * zc; }
};

// Row sums of term(j) for j = 0 .. n-1 in the three orders the models fix.
// Acc is double, or any value type with + and a zero value Acc{} (a vector
// of lanes sums several quantities side by side, each in the same order).

// Index order from zero: ((0 + t0) + t1) + ...
template <class Acc, class Term>
inline Acc sum_plain(std::size_t n, Term&& term) {
    Acc s{};
    for (std::size_t j = 0; j < n; ++j) s = s + term(j);
    return s;
}

// Blocks of eight columns: each whole block summed in column order from its
// first term, the block sum added to the total (from zero); then the n mod 8
// remaining terms added one at a time.
template <class Acc, class Term>
inline Acc sum_blocks8(std::size_t n, Term&& term) {
    Acc s{};
    const std::size_t body = n - n % 8;
    for (std::size_t j = 0; j < body; j += 8) {
        Acc b = term(j);
        for (std::size_t m = 1; m < 8; ++m) b = b + term(j + m);
        s = s + b;
    }
    for (std::size_t j = body; j < n; ++j) s = s + term(j);
    return s;
}

// Eight interleaved partials: partial l takes the terms j = l, l + 8, ...
// below the largest multiple of 8 not above n; the partials are added to zero
// in order 0 to 7, then the n mod 8 remaining terms one at a time.
template <class Acc, class Term>
inline Acc sum_interleaved8(std::size_t n, Term&& term) {
    Acc p[8] = {};
    const std::size_t body = n - n % 8;
    for (std::size_t j = 0; j < body; j += 8)
        for (std::size_t l = 0; l < 8; ++l) p[l] = p[l] + term(j + l);
    Acc s{};
    for (std::size_t l = 0; l < 8; ++l) s = s + p[l];
    for (std::size_t j = body; j < n; ++j) s = s + term(j);
    return s;
}

enum class SumOrder : std::uint8_t { Plain, Blocks8, Interleaved8 };

// The order chosen at compile time: row_sum<SumOrder::Plain, double>(n, term).
template <SumOrder Order, class Acc, class Term>
inline Acc row_sum(std::size_t n, Term&& term) {
    if constexpr (Order == SumOrder::Blocks8)
        return sum_blocks8<Acc>(n, term);
    else if constexpr (Order == SumOrder::Interleaved8)
        return sum_interleaved8<Acc>(n, term);
    else
        return sum_plain<Acc>(n, term);
}

// The pairwise coupling term of one row,
//   P_i = sum_j K_ij sin(theta_j - theta_i - alpha_ij)   (no 1/n, j = i included),
// on the general path with one sine per pair of ((theta_j - theta_i) -
// alpha_ij), on the zero-lag path as (s_j c_i - c_j s_i) K_ij from the caches.
struct Pairwise {
    std::size_t n = 0;
    const double* theta = nullptr;
    const double* sin_c = nullptr;  // sin(theta_j)
    const double* cos_c = nullptr;  // cos(theta_j)
    const double* knm = nullptr;    // n*n, row-major
    const double* alpha = nullptr;  // n*n, row-major; unused on the zero-lag path

    double fast_term(std::size_t i, std::size_t j) const {
        return (sin_c[j] * cos_c[i] - cos_c[j] * sin_c[i]) * knm[i * n + j];
    }
    double general_term(std::size_t i, std::size_t j) const {
        return knm[i * n + j] * std::sin((theta[j] - theta[i]) - alpha[i * n + j]);
    }
};

template <SumOrder Order = SumOrder::Plain>
inline double pairwise_row(const Pairwise& p, std::size_t i, bool zero_lag) {
    const double* sc = p.sin_c;
    const double* cc = p.cos_c;
    const double* k = p.knm + i * p.n;
    const double si = sc[i], ci = cc[i];
    if (zero_lag) return row_sum<Order, double>(p.n, [&](std::size_t j) { return (sc[j] * ci - cc[j] * si) * k[j]; });
    const double* a = p.alpha + i * p.n;
    const double ti = p.theta[i];
    return row_sum<Order, double>(p.n, [&](std::size_t j) { return k[j] * std::sin((p.theta[j] - ti) - a[j]); });
}

// Eight rows side by side, one per lane, held as four two-lane vectors (no
// wider vector type, whose calling convention depends on the target). Lane-wise
// + - * round exactly like the scalar ones, so sum_plain<Lanes8> gives each
// row the bits of its own plain sum, without one chain of dependent adds per row.
struct Lanes8 {
    using v2 = lanes::v2;
    v2 l[4] = {};

    friend Lanes8 operator+(const Lanes8& a, const Lanes8& b) {
        Lanes8 r;
        for (int q = 0; q < 4; ++q) r.l[q] = a.l[q] + b.l[q];
        return r;
    }
    double operator[](std::size_t r) const { return l[r / 2][r % 2]; }
};

// The zero-lag terms (s_j c_r - c_j s_r) K_rj of the rows r = i .. i+7 at
// column j: the partners' sines and cosines from s and c, the rows' own from
// own_s and own_c (the same arrays, unless the partners are read from
// elsewhere, such as a delayed copy).
struct ZeroLagRows8 {
    std::size_t n;
    const double *s, *c, *k;  // k: row i of knm
    Lanes8 si, ci;

    static ZeroLagRows8 at(std::size_t n, std::size_t i, const double* s, const double* c, const double* own_s,
                           const double* own_c, const double* knm) {
        ZeroLagRows8 z{n, s, c, knm + i * n, {}, {}};
        for (int q = 0; q < 4; ++q) {
            z.si.l[q] = Lanes8::v2{own_s[i + 2 * q], own_s[i + 2 * q + 1]};
            z.ci.l[q] = Lanes8::v2{own_c[i + 2 * q], own_c[i + 2 * q + 1]};
        }
        return z;
    }
    Lanes8 operator()(std::size_t j) const {
        const double* kj = k + j;
        const Lanes8::v2 sj = {s[j], s[j]}, cj = {c[j], c[j]};
        Lanes8 t;
        for (std::size_t q = 0; q < 4; ++q) {
            const Lanes8::v2 kk = {kj[2 * q * n], kj[(2 * q + 1) * n]};
            t.l[q] = (sj * ci.l[q] - cj * si.l[q]) * kk;
        }
        return t;
    }
};

// The zero-lag pairwise terms P_i of the rows [b, e), each summed in the
// order Order: eight rows at a time side by side, the rest one by one;
// done(i, P_i) for every row, in ascending order.
template <SumOrder Order, class Done>
inline void zero_lag_rows(const Pairwise& p, std::size_t b, std::size_t e, Done&& done) {
    std::size_t i = b;
    for (; i + 8 <= e; i += 8) {
        const auto rows = ZeroLagRows8::at(p.n, i, p.sin_c, p.cos_c, p.sin_c, p.cos_c, p.knm);
        const Lanes8 sums = row_sum<Order, Lanes8>(p.n, rows);
        for (std::size_t r = 0; r < 8; ++r) done(i + r, sums[r]);
    }
    for (; i < e; ++i) done(i, pairwise_row<Order>(p, i, true));
}

// Rows of a derivative: row(i) for i in [0, n), each row by one worker, on
// the pool in fixed chunks (a network of one chunk stays on the calling
// thread and pays no dispatch). Rows write only their own outputs.
inline constexpr std::size_t kRowChunk = 64;
template <class Row>
inline void rows_on_pool(std::size_t n, Row&& row) {
    pool::for_chunks(n, kRowChunk, [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i) row(i);
    });
}

// ---------------------------------------------------------------------------
// Results.

// A flat time-major record: row t of width values at t*width. Reserved for
// every row up front, so that a run too long to record fails before its
// first step.
class Trajectory {
public:
    // "capacity overflow" when rows * width overflows or reaches 2^60 values;
    // std::bad_alloc when the memory cannot be had.
    static Result<Trajectory, InternalError> reserve(std::size_t rows, std::size_t width,
                                                     std::source_location where = std::source_location::current()) {
        auto len = value_count(rows, width, where);
        if (!len) return std::move(len).error();
        Trajectory t;
        t.values_.reserve(len.value());
        return t;
    }
    void push(std::span<const double> row) { values_.insert(values_.end(), row.begin(), row.end()); }
    std::vector<double> take() { return std::move(values_); }

private:
    Trajectory() = default;
    std::vector<double> values_;
};

}  // namespace qel::kit
