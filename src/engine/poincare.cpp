#include "engine/poincare.hpp"

#include <cmath>
#include <cstdint>
#include <string>

#include "engine/util/checked.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/pool.hpp"
#include "engine/util/pool_stop.hpp"
#include "engine/util/wrap.hpp"
#include "types/format.hpp"

namespace qel::poincare {

namespace {

// Pairs per pool task.
constexpr std::size_t kChunk = std::size_t{1} << 14;
constexpr std::size_t kCheckEvery = std::size_t{1} << 20;
constexpr double kGuard = 1e-15;

bool length_is(std::size_t len, std::size_t a, std::size_t b) {
    auto p = checked_mul(a, b);
    return p && *p == len;
}

// The crossing pairs among (k, k+1), k < n_pairs. scan(b, e, out) appends
// those of a task's pairs [b, e) in order; tasks are kept in index order.
template <class Scan>
Result<std::vector<std::vector<Crossings::Pair>>, PlainError> find_pairs(std::size_t n_pairs, Scan scan) {
    std::vector<std::vector<Crossings::Pair>> parts((n_pairs + kChunk - 1) / kChunk);
    const bool ok =
        pool::for_chunks_interruptible(n_pairs, kChunk, n_pairs > kChunk,
                                       [&](std::size_t b, std::size_t e) { scan(b, e, parts[b / kChunk]); });
    if (!ok) return interrupted_error();
    return parts;
}

template <CrossingDirection Dir>
bool crosses(double s0, double s1) {
    if constexpr (Dir == CrossingDirection::Positive) return (s0 < 0.0) & (s1 >= 0.0);
    if constexpr (Dir == CrossingDirection::Negative) return (s0 > 0.0) & (s1 <= 0.0);
    // The signs themselves: a product of two tiny distances can round to
    // -0.0 and hide the crossing.
    return ((s0 < 0.0) & (s1 > 0.0)) | ((s0 > 0.0) & (s1 < 0.0));
}

// Appends the crossing pairs among [b, e) in order. step(k, frac) tells
// whether pair k crosses, and where; it is called for k = b, b+1, ... in
// turn. Every pair is stored and only the crossings are kept, without a
// branch per pair: on noisy data crossings come too irregularly to predict.
template <class Step>
void scan_pairs(std::size_t b, std::size_t e, std::vector<Crossings::Pair>& out, Step step) {
    constexpr std::size_t kBlock = 512;
    Crossings::Pair buf[kBlock];
    for (std::size_t b0 = b; b0 < e; b0 += kBlock) {
        const std::size_t e0 = e - b0 > kBlock ? b0 + kBlock : e;
        std::size_t n = 0;
        for (std::size_t k = b0; k < e0; ++k) {
            double frac;
            const bool hit = step(k, frac);
            buf[n] = {k, frac};
            n += hit;
        }
        out.insert(out.end(), buf, buf + n);
    }
}

// Hyperplane crossings for one direction, the dimension fixed when D > 0.
template <CrossingDirection Dir, std::size_t D>
Result<std::vector<std::vector<Crossings::Pair>>, PlainError> hyperplane_pairs(const double* x, std::size_t T,
                                                                               std::size_t dim, const double* u,
                                                                               double offset) {
    const std::size_t d = D > 0 ? D : dim;
    auto distance = [&](std::size_t k) {
        const double* row = x + k * d;
        double dot = 0.0;
        for (std::size_t i = 0; i < d; ++i) dot += row[i] * u[i];
        return dot - offset;
    };
    return find_pairs(T - 1, [&](std::size_t b, std::size_t e, std::vector<Crossings::Pair>& out) {
        double s0 = distance(b);  // each distance is computed once per task
        scan_pairs(b, e, out, [&](std::size_t k, double& frac) {
            const double s1 = distance(k + 1);
            const double diff = s1 - s0;
            frac = std::fabs(diff) > kGuard ? -s0 / diff : 0.5;
            const bool hit = crosses<Dir>(s0, s1);
            s0 = s1;
            return hit;
        });
    });
}

template <CrossingDirection Dir>
Result<std::vector<std::vector<Crossings::Pair>>, PlainError> hyperplane_pairs(const double* x, std::size_t T,
                                                                               std::size_t d, const double* u,
                                                                               double offset) {
    switch (d) {
        case 1: return hyperplane_pairs<Dir, 1>(x, T, d, u, offset);
        case 2: return hyperplane_pairs<Dir, 2>(x, T, d, u, offset);
        case 3: return hyperplane_pairs<Dir, 3>(x, T, d, u, offset);
        case 4: return hyperplane_pairs<Dir, 4>(x, T, d, u, offset);
        default: return hyperplane_pairs<Dir, 0>(x, T, d, u, offset);
    }
}

// std::round (halves away from zero, the sign of zero kept), without the
// library call that baseline x86-64 makes of it: below 2^52 the truncation
// is a conversion to int64 and back, and x minus it is exact.
inline double round_half_away(double x) {
    if (!(std::fabs(x) < 4503599627370496.0)) return std::round(x);  // integral already, or NaN or inf
    const double t = std::copysign(static_cast<double>(static_cast<std::int64_t>(x)), x);
    const double f = x - t;
    return f >= 0.5 ? t + 1.0 : f <= -0.5 ? t - 1.0 : t;
}

// D less its nearest multiple of 2pi (halves rounded away from zero).
inline double short_arc(double d) { return d - round_half_away(d / kTwoPi) * kTwoPi; }

// fmod(fmod(v, 2pi) + 2pi, 2pi). The inner remainder lies in (-2pi, 2pi), so
// the sum x lies in [0, 4pi] (rounding may reach either end) and the outer
// remainder is x, x - 2pi (exact, by Sterbenz) or, for x = 4pi, 0. A NaN
// stays NaN, so it never crosses.
inline double relative_phase(double v) {
    const double x = std::fmod(v, kTwoPi) + kTwoPi;
    if (x < kTwoPi) return x;
    const double y = x - kTwoPi;
    return y >= kTwoPi ? 0.0 : y;
}

}  // namespace

Crossings::Crossings(std::vector<std::vector<Pair>> parts, const double* rows, std::size_t dim, bool along_short_arc)
    : parts_(std::move(parts)), rows_(rows), dim_(dim), short_arc_(along_short_arc) {
    for (const auto& p : parts_) count_ += p.size();
}

void Crossings::write(std::span<double> points, std::span<double> times) const {
    std::vector<std::size_t> first(parts_.size() + 1, 0);
    for (std::size_t t = 0; t < parts_.size(); ++t) first[t + 1] = first[t] + parts_[t].size();
    pool::for_chunks(parts_.size(), 1, [&](std::size_t t, std::size_t) {
        double* out = points.data() + first[t] * dim_;
        double* time = times.data() + first[t];
        for (const Pair& c : parts_[t]) {
            const double* a = rows_ + c.k * dim_;
            const double* b = a + dim_;
            // Phases move along the short arc, as the unwrapping steps: an
            // oscillator passing 0 between the rows is not swept back across
            // the circle.
            if (short_arc_)
                for (std::size_t i = 0; i < dim_; ++i) *out++ = short_arc(b[i] - a[i]) * c.frac + a[i];
            else
                for (std::size_t i = 0; i < dim_; ++i) *out++ = (b[i] - a[i]) * c.frac + a[i];
            *time++ = c.frac + static_cast<double>(c.k);
        }
    });
}

Result<CrossingDirection, PlainError> parse_direction(std::string_view text) {
    if (text == "positive") return CrossingDirection::Positive;
    if (text == "negative") return CrossingDirection::Negative;
    if (text == "both") return CrossingDirection::Both;
    return PlainError::value_error("direction must be 'positive', 'negative', or 'both'");
}

Result<Crossings, PlainError> poincare_section(std::span<const double> traj, std::size_t T, std::size_t d,
                                               std::span<const double> normal, double offset,
                                               CrossingDirection direction) {
    if (!length_is(traj.size(), T, d))
        return PlainError::value_error(text::cat("trajectory length ", traj.size(), " != T*d = ", text::product(T, d)));
    if (normal.size() != d) return PlainError::value_error(text::cat("normal length ", normal.size(), " != d = ", d));
    double sq = 0.0;
    for (double c : normal) sq += c * c;
    const double norm = std::sqrt(sq);
    if (d == 0 || norm < kGuard) return PlainError::value_error("normal vector has zero length");
    std::vector<double> u(d);
    for (std::size_t i = 0; i < d; ++i) u[i] = normal[i] / norm;
    if (T < 2) return Crossings();

    auto pairs = direction == CrossingDirection::Positive
                     ? hyperplane_pairs<CrossingDirection::Positive>(traj.data(), T, d, u.data(), offset)
                 : direction == CrossingDirection::Negative
                     ? hyperplane_pairs<CrossingDirection::Negative>(traj.data(), T, d, u.data(), offset)
                     : hyperplane_pairs<CrossingDirection::Both>(traj.data(), T, d, u.data(), offset);
    if (!pairs) return std::move(pairs).error();
    return Crossings(std::move(pairs).value(), traj.data(), d, false);
}

Result<Crossings, PlainError> phase_poincare(std::span<const double> phases, std::size_t T, std::size_t N,
                                             std::size_t oscillator_idx, double section_phase) {
    if (!length_is(phases.size(), T, N))
        return PlainError::value_error(text::cat("phases length ", phases.size(), " != T*N = ", text::product(T, N)));
    if (oscillator_idx >= N)
        return PlainError::value_error(text::cat("oscillator_idx ", oscillator_idx, " >= N = ", N));
    if (T < 2) return Crossings();

    const double* p = phases.data();
    // Unwrapping is a running sum: its steps are computed on the pool, the
    // sum itself in sample order.
    std::vector<double> u(T);
    const bool ok = pool::for_chunks_interruptible(T, kChunk, T > kChunk, [&](std::size_t b, std::size_t e) {
        for (std::size_t k = b; k < e; ++k)
            u[k] = k == 0 ? p[oscillator_idx] : short_arc(p[k * N + oscillator_idx] - p[(k - 1) * N + oscillator_idx]);
    });
    if (!ok) return interrupted_error();
    for (std::size_t k0 = 1; k0 < T; k0 += kCheckEvery) {
        if (k0 > 1 && interrupted()) return interrupted_error();
        const std::size_t k1 = T - k0 > kCheckEvery ? k0 + kCheckEvery : T;
        for (std::size_t k = k0; k < k1; ++k) u[k] = u[k - 1] + u[k];
    }

    auto rel = [&](std::size_t k) { return relative_phase(u[k] - section_phase); };
    auto pairs = find_pairs(T - 1, [&](std::size_t b, std::size_t e, std::vector<Crossings::Pair>& out) {
        double r0 = rel(b);
        scan_pairs(b, e, out, [&](std::size_t k, double& frac) {
            const double r1 = rel(k + 1);
            const double num = kTwoPi - r0;
            const double den = r1 + num;
            // Clamped into [0, 1]; a crossing has finite r0 and r1, so no NaN here.
            const double q = num / den;
            frac = den > kGuard ? (q < 0.0 ? 0.0 : q > 1.0 ? 1.0 : q) : 0.5;
            const bool hit = (r0 > kPi) & (r1 < kPi);
            r0 = r1;
            return hit;
        });
    });
    if (!pairs) return std::move(pairs).error();
    return Crossings(std::move(pairs).value(), p, N, true);
}

}  // namespace qel::poincare
