#include "engine/swarmalator.hpp"

#include <cmath>
#include <optional>
#include <utility>

#include "engine/util/finite.hpp"
#include "engine/util/lanes.hpp"
#include "engine/util/pool.hpp"
#include "engine/util/wrap.hpp"
#include "types/format.hpp"

namespace qel::swarmalator {

namespace {

constexpr double kEps = 1e-6;

using lanes::v2;

// Lane-wise square root, correctly rounded like std::sqrt.
inline v2 sqrt2(v2 x) {
#if defined(__SSE2__)
    return __builtin_ia32_sqrtpd(x);
#else
    return v2{std::sqrt(x[0]), std::sqrt(x[1])};
#endif
}

// What one interaction pass reads and writes. Row i writes only dpos row i
// and dphase[i]; every sum runs over m in ascending order on one thread.
struct Pass {
    std::size_t n, dim;
    const double* pos;
    const double* sn;
    const double* cs;
    const double* omegas;
    double* dpos;
    double* dphase;
    double a, b, j, kn;  // kn = k * (1/n)

    // D > 0 fixes dim at compile time (the row then lives in registers);
    // D == 0 reads it at run time.
    template <std::size_t D>
    void row(std::size_t i) const {
        const std::size_t dm = D ? D : dim;
        const double* xi = pos + i * dm;
        double local[D ? D : 1] = {};
        double* out = D ? local : dpos + i * dm;
        if (!D)
            for (std::size_t d = 0; d < dm; ++d) out[d] = 0.0;
        const double si = sn[i], ci = cs[i];
        double acc = omegas[i];
        auto pair = [&](std::size_t m) {
            const double* xm = pos + m * dm;
            double d2 = 0.0;
            for (std::size_t d = 0; d < dm; ++d) {
                const double diff = xm[d] - xi[d];
                d2 = d2 + diff * diff;
            }
            d2 = d2 + kEps;
            const double inv_r = 1.0 / std::sqrt(d2);
            const double sm = sn[m], cm = cs[m];
            const double cos_diff = si * sm + ci * cm;
            const double att = (cos_diff * j + a) * inv_r;
            const double rep = b / d2;
            for (std::size_t d = 0; d < dm; ++d) {
                const double diff = xm[d] - xi[d];
                out[d] = (att * diff - diff * rep) + out[d];
            }
            const double sin_diff = sm * ci - cm * si;
            acc = acc + inv_r * (kn * sin_diff);
        };
        for (std::size_t m = 0; m < i; ++m) pair(m);
        for (std::size_t m = i + 1; m < n; ++m) pair(m);
        if (D)
            for (std::size_t d = 0; d < D; ++d) dpos[i * D + d] = local[d];
        dphase[i] = acc;
    }

    // Rows i and i + 1 side by side, one in each lane of a two-lane vector:
    // each lane computes exactly what row<D> computes for its agent, in the
    // same order, and lane-wise +, *, / and sqrt round like the scalar ones.
    // Between the pairs m < i and m > i + 1 each lane has one more pair, with
    // the other agent of the two: a "crossed" pair (i + 1 for lane 0, i for 1).
    template <std::size_t D>
    void row_pair(std::size_t i) const {
        const std::size_t i1 = i + 1;
        v2 xi[D], out[D] = {};
        for (std::size_t d = 0; d < D; ++d) xi[d] = v2{pos[i * D + d], pos[i1 * D + d]};
        const v2 si = {sn[i], sn[i1]}, ci = {cs[i], cs[i1]};
        const v2 av = {a, a}, bv = {b, b}, jv = {j, j}, knv = {kn, kn}, eps = {kEps, kEps}, one = {1.0, 1.0};
        v2 acc = {omegas[i], omegas[i1]};
        auto pair = [&](std::size_t m0, std::size_t m1) {
            v2 diff[D];
            v2 d2 = {0.0, 0.0};
            for (std::size_t d = 0; d < D; ++d) {
                diff[d] = v2{pos[m0 * D + d], pos[m1 * D + d]} - xi[d];
                d2 = d2 + diff[d] * diff[d];
            }
            d2 = d2 + eps;
            const v2 inv_r = one / sqrt2(d2);
            const v2 sm = {sn[m0], sn[m1]}, cm = {cs[m0], cs[m1]};
            const v2 cos_diff = si * sm + ci * cm;
            const v2 att = (cos_diff * jv + av) * inv_r;
            const v2 rep = bv / d2;
            for (std::size_t d = 0; d < D; ++d) out[d] = (att * diff[d] - diff[d] * rep) + out[d];
            const v2 sin_diff = sm * ci - cm * si;
            acc = acc + inv_r * (knv * sin_diff);
        };
        for (std::size_t m = 0; m < i; ++m) pair(m, m);
        pair(i1, i);
        for (std::size_t m = i1 + 1; m < n; ++m) pair(m, m);
        for (std::size_t d = 0; d < D; ++d) {
            dpos[i * D + d] = out[d][0];
            dpos[i1 * D + d] = out[d][1];
        }
        dphase[i] = acc[0];
        dphase[i1] = acc[1];
    }

    template <std::size_t D>
    void run_on_pool() const {
        // A handful of agents per work item (each agent is n pairs); the
        // split cannot change a bit. Chunks start at even rows, so rows pair up.
        pool::for_chunks(n, 4, [this](std::size_t b0, std::size_t e) {
            std::size_t i = b0;
            if constexpr (D != 0)
                for (; i + 1 < e; i += 2) row_pair<D>(i);
            for (; i < e; ++i) row<D>(i);
        });
    }

    void run() const {
        switch (dim) {
            case 1: return run_on_pool<1>();
            case 2: return run_on_pool<2>();
            case 3: return run_on_pool<3>();
            default: return run_on_pool<0>();
        }
    }
};

}  // namespace

Result<SwarmalatorStepper, kit::StepperError> SwarmalatorStepper::create(std::size_t n, std::size_t dim,
                                                                         const IntegrationConfig& config) {
    SwarmalatorStepper s;
    // No integrator state: the step is its own Euler update.
    auto built = kit::construct(s.core_, n, config, 0,
                                {{&s.sin_cache_, 1}, {&s.cos_cache_, 1}, {&s.dpos_, dim}, {&s.dphase_, 1}});
    if (!built) return std::move(built).error();
    s.n_ = n;
    s.dim_ = dim;
    return s;
}

Result<void, kit::StepperError> SwarmalatorStepper::step(std::span<double> pos, std::span<double> phases,
                                                         std::span<const double> omegas, double a, double b, double j,
                                                         double k) {
    const std::size_t n = n_, dim = dim_;
    const std::size_t n_dim = n * dim;  // sized at construction
    if (pos.size() != n_dim || phases.size() != n || omegas.size() != n)
        return kit::StepperError{QelError::invalid_dimension(
            text::cat("expected pos=", n_dim, ", phases=", n, ", omegas=", n, "; got pos=", pos.size(),
                      ", phases=", phases.size(), ", omegas=", omegas.size()))};
    if (Status st = kit::check_finite("swarmalator inputs contain NaN/Inf", {pos, phases, omegas}, {a, b, j, k}); !st)
        return kit::StepperError{std::move(st).error()};

    const double inv_n = 1.0 / static_cast<double>(n);
    // glibc's sincos gives the bits of sin and cos.
    for (std::size_t i = 0; i < n; ++i) ::sincos(phases[i], &sin_cache_[i], &cos_cache_[i]);
    // The pass hands out dpos in rows of dim values; there is no row of none.
    if (dim == 0) return kit::StepperError{InternalError("chunk_size must not be zero")};

    const Pass
        pass{n, dim, pos.data(), sin_cache_.data(), cos_cache_.data(), omegas.data(), dpos_.data(), dphase_.data(),
             a, b,   j,          k * inv_n};
    pass.run();

    // Every sum is formed before anyone moves, so this order changes nothing.
    const double dt = core_.config().dt;
    for (std::size_t i = 0; i < n; ++i) {
        double* x = pos.data() + i * dim;
        const double* v = dpos_.data() + i * dim;
        for (std::size_t d = 0; d < dim; ++d) x[d] = x[d] + (v[d] * dt) * inv_n;
        phases[i] = wrap_phase(phases[i] + dphase_[i] * dt);
    }
    return {};
}

order_params::OrderParameter SwarmalatorStepper::order_parameter() const {
    // From -0.0, so that sums of -0.0 terms keep their sign.
    order_params::Accumulator acc{-0.0, -0.0, 0};
    for (std::size_t i = 0; i < n_; ++i) acc.add_cos_sin(cos_cache_[i], sin_cache_[i]);
    return acc.finish();
}

Result<RunResult, InternalError> run(std::span<const double> pos_init, std::span<const double> phases_init,
                                     std::span<const double> omegas, std::size_t n, std::size_t dim, double dt,
                                     double a, double b, double j, double k, std::uint64_t n_steps) {
    auto built = SwarmalatorStepper::create(n, dim, kit::dt_config(dt));
    if (!built) return kit::run_failure(built.error());
    SwarmalatorStepper& s = built.value();
    RunResult r{{pos_init.begin(), pos_init.end()}, {phases_init.begin(), phases_init.end()}, {}, {}};
    auto pos_rows = kit::Trajectory::reserve(n_steps, n * dim);  // n*dim was sized by create
    if (!pos_rows) return std::move(pos_rows).error();
    auto phase_rows = kit::Trajectory::reserve(n_steps, n);
    if (!phase_rows) return std::move(phase_rows).error();

    std::optional<InternalError> internal;
    Status st = run_steps(n_steps, [&](std::uint64_t) -> Status {
        auto done = s.step(r.pos, r.phases, omegas, a, b, j, k);
        if (!done) {
            if (auto* e = std::get_if<QelError>(&done.error())) return std::move(*e);
            internal = std::get<InternalError>(std::move(done).error());
            return QelError{};
        }
        pos_rows.value().push(r.pos);
        phase_rows.value().push(r.phases);
        return {};
    });
    if (internal) return std::move(*internal);  // without the stepper prefix
    if (!st) return kit::run_failure(st.error());
    r.pos_trajectory = pos_rows.value().take();
    r.phase_trajectory = phase_rows.value().take();
    return r;
}

}  // namespace qel::swarmalator
