#include "engine/poincare.hpp"

#include <cmath>
#include <string>

#include "engine/util/checked.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/pool_waves.hpp"
#include "engine/util/wrap.hpp"
#include "types/format.hpp"

namespace qel::poincare {

namespace {

// Pairs per pool task, and tasks per dispatch between two looks at Ctrl-C.
constexpr std::size_t kChunk = std::size_t{1} << 14;
constexpr std::size_t kWave = 256;
constexpr std::size_t kCheckEvery = std::size_t{1} << 20;
constexpr double kGuard = 1e-15;

// a*b in decimal, exact even when it does not fit in 64 bits: a length
// message must name the product the caller asked for, not a wrapped one.
std::string product_text(std::size_t a, std::size_t b) {
    unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(p % 10)));
        p /= 10;
    } while (p != 0);
    return digits;
}

bool length_is(std::size_t len, std::size_t a, std::size_t b) {
    auto p = checked_mul(a, b);
    return p && *p == len;
}

// The crossings of the pairs (k, k+1), k < n_pairs: test(k) decides a pair
// and gives its fraction, emit(k, frac, out) appends its point. Each task
// keeps its own crossings; they are joined in task order.
template <class Test, class Emit>
Result<Crossings, PlainError> collect(std::size_t n_pairs, std::size_t dim, Test test, Emit emit) {
    const std::size_t n_tasks = (n_pairs + kChunk - 1) / kChunk;
    std::vector<Crossings> parts(n_tasks);
    const bool ok = pool::for_chunks_interruptible(n_pairs, kChunk, kWave, n_pairs > kChunk,
                                                   [&](std::size_t b, std::size_t e) {
        Crossings& part = parts[b / kChunk];
        double frac = 0.0;
        for (std::size_t k = b; k < e; ++k) {
            if (!test(k, frac)) continue;
            emit(k, frac, part.points);
            part.times.push_back(frac + static_cast<double>(k));
        }
    });
    if (!ok) return interrupted_error();
    Crossings all;
    std::size_t n = 0;
    for (const Crossings& p : parts) n += p.times.size();
    all.points.reserve(n * dim);
    all.times.reserve(n);
    for (Crossings& p : parts) {
        all.points.insert(all.points.end(), p.points.begin(), p.points.end());
        all.times.insert(all.times.end(), p.times.begin(), p.times.end());
        p = Crossings{};
    }
    return all;
}

bool crosses(double s0, double s1, CrossingDirection direction) {
    switch (direction) {
        case CrossingDirection::Positive: return s0 < 0.0 && s1 >= 0.0;
        case CrossingDirection::Negative: return s0 > 0.0 && s1 <= 0.0;
        // The signs themselves: a product of two tiny distances can round
        // to -0.0 and hide the crossing.
        case CrossingDirection::Both: return (s0 < 0.0 && s1 > 0.0) || (s0 > 0.0 && s1 < 0.0);
    }
    return false;
}

// D less its nearest multiple of 2pi (halves rounded away from zero).
inline double short_arc(double d) { return d - std::round(d / kTwoPi) * kTwoPi; }

}  // namespace

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
        return PlainError::value_error(text::cat("trajectory length ", traj.size(), " != T*d = ", product_text(T, d)));
    if (normal.size() != d) return PlainError::value_error(text::cat("normal length ", normal.size(), " != d = ", d));
    double sq = 0.0;
    for (double c : normal) sq += c * c;
    const double norm = std::sqrt(sq);
    if (d == 0 || norm < kGuard) return PlainError::value_error("normal vector has zero length");
    std::vector<double> u(d);
    for (std::size_t i = 0; i < d; ++i) u[i] = normal[i] / norm;
    if (T < 2) return Crossings{};

    const double* x = traj.data();
    auto distance = [&](std::size_t k) {
        const double* row = x + k * d;
        double dot = 0.0;
        for (std::size_t i = 0; i < d; ++i) dot += row[i] * u[i];
        return dot - offset;
    };
    // Each pair computes both of its distances: the same values a shared
    // array would hold, without the array.
    auto test = [&](std::size_t k, double& frac) {
        const double s0 = distance(k), s1 = distance(k + 1);
        if (!crosses(s0, s1, direction)) return false;
        const double diff = s1 - s0;
        frac = std::fabs(diff) > kGuard ? -s0 / diff : 0.5;
        return true;
    };
    auto emit = [&](std::size_t k, double frac, std::vector<double>& out) {
        const double* a = x + k * d;
        const double* b = a + d;
        for (std::size_t i = 0; i < d; ++i) out.push_back((b[i] - a[i]) * frac + a[i]);
    };
    return collect(T - 1, d, test, emit);
}

Result<Crossings, PlainError> phase_poincare(std::span<const double> phases, std::size_t T, std::size_t N,
                                             std::size_t oscillator_idx, double section_phase) {
    if (!length_is(phases.size(), T, N))
        return PlainError::value_error(text::cat("phases length ", phases.size(), " != T*N = ", product_text(T, N)));
    if (oscillator_idx >= N)
        return PlainError::value_error(text::cat("oscillator_idx ", oscillator_idx, " >= N = ", N));
    if (T < 2) return Crossings{};

    const double* p = phases.data();
    // Unwrapping is a running sum: its steps are computed on the pool, the
    // sum itself in sample order.
    std::vector<double> u(T);
    const bool ok = pool::for_chunks_interruptible(T, kChunk, kWave, T > kChunk, [&](std::size_t b, std::size_t e) {
        for (std::size_t k = b; k < e; ++k)
            u[k] = k == 0 ? p[oscillator_idx]
                          : short_arc(p[k * N + oscillator_idx] - p[(k - 1) * N + oscillator_idx]);
    });
    if (!ok) return interrupted_error();
    for (std::size_t k0 = 1; k0 < T; k0 += kCheckEvery) {
        if (k0 > 1 && interrupted()) return interrupted_error();
        const std::size_t k1 = T - k0 > kCheckEvery ? k0 + kCheckEvery : T;
        for (std::size_t k = k0; k < k1; ++k) u[k] = u[k - 1] + u[k];
    }

    auto rel = [&](std::size_t k) { return std::fmod(std::fmod(u[k] - section_phase, kTwoPi) + kTwoPi, kTwoPi); };
    auto test = [&](std::size_t k, double& frac) {
        const double r0 = rel(k);
        if (!(r0 > kPi)) return false;
        const double r1 = rel(k + 1);
        if (!(r1 < kPi)) return false;
        const double num = kTwoPi - r0;
        const double den = r1 + num;
        frac = den > kGuard ? std::fmin(std::fmax(num / den, 0.0), 1.0) : 0.5;
        return true;
    };
    // Along the short arc, as the unwrapping steps: an oscillator passing
    // phase 0 between the rows must not be swept back across the circle.
    auto emit = [&](std::size_t k, double frac, std::vector<double>& out) {
        const double* a = p + k * N;
        const double* b = a + N;
        for (std::size_t i = 0; i < N; ++i) out.push_back(short_arc(b[i] - a[i]) * frac + a[i]);
    };
    return collect(T - 1, N, test, emit);
}

}  // namespace qel::poincare
