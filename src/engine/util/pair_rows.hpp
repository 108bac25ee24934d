// The pairwise coupling term of one oscillator,
//     P_i = sum_j K_ij sin((x_j - theta_i) - alpha_ij),
// in the summation orders the phase steppers use. The partners j are read
// from their own arrays (the current phases and their sines and cosines, or
// a delayed copy of them), row i from the current state.
#pragma once
#include <cmath>
#include <cstddef>

namespace qel::pair_rows {

struct Sources {
    std::size_t n = 0;
    const double* x = nullptr;   // partner angles (general path)
    const double* s = nullptr;   // partner sines and cosines (zero-lag path)
    const double* c = nullptr;
    const double* xi = nullptr;  // the rows' own angles, sines and cosines
    const double* si = nullptr;
    const double* ci = nullptr;
    const double* knm = nullptr;
    const double* alpha = nullptr;
};

// General path, terms added one at a time in ascending j.
inline double general(const Sources& q, std::size_t i) {
    const double ti = q.xi[i];
    const double* k = q.knm + i * q.n;
    const double* a = q.alpha + i * q.n;
    double acc = 0.0;
    for (std::size_t j = 0; j < q.n; ++j) acc = acc + std::sin((q.x[j] - ti) - a[j]) * k[j];
    return acc;
}

// Zero-lag path, term (s_j c_i - c_j s_i) K_ij, added one at a time in ascending j.
inline double zero_lag(const Sources& q, std::size_t i) {
    const double si = q.si[i], ci = q.ci[i];
    const double* k = q.knm + i * q.n;
    double acc = 0.0;
    for (std::size_t j = 0; j < q.n; ++j) acc = acc + (q.s[j] * ci - q.c[j] * si) * k[j];
    return acc;
}

// Two lanes of doubles; lane-wise + - * round exactly like the scalar ones.
typedef double v2 __attribute__((vector_size(16)));

inline constexpr std::size_t kRowGroup = 8;

// zero_lag for the rows i .. i+7 at once, each row in its own lane with its
// own order: the same bits, without one chain of dependent adds per row.
inline void zero_lag_rows8(const Sources& q, std::size_t i, double* out) {
    const std::size_t n = q.n;
    v2 cr[4], sr[4], acc[4] = {};
    const double* k[kRowGroup];
    for (std::size_t r = 0; r < kRowGroup; ++r) k[r] = q.knm + (i + r) * n;
    for (std::size_t l = 0; l < 4; ++l) {
        cr[l] = v2{q.ci[i + 2 * l], q.ci[i + 2 * l + 1]};
        sr[l] = v2{q.si[i + 2 * l], q.si[i + 2 * l + 1]};
    }
    for (std::size_t j = 0; j < n; ++j) {
        const v2 sj = {q.s[j], q.s[j]}, cj = {q.c[j], q.c[j]};
        for (std::size_t l = 0; l < 4; ++l) {
            const v2 kk = {k[2 * l][j], k[2 * l + 1][j]};
            acc[l] = acc[l] + (sj * cr[l] - cj * sr[l]) * kk;
        }
    }
    for (std::size_t l = 0; l < 4; ++l) {
        out[2 * l] = acc[l][0];
        out[2 * l + 1] = acc[l][1];
    }
}

// Zero-lag path in blocks of eight: each whole block t_8g .. t_8g+7 is summed
// left to right on its own and then added; the n mod 8 tail terms follow one
// at a time in ascending j.
inline double zero_lag_blocks8(const Sources& q, std::size_t i) {
    const std::size_t n = q.n;
    const double si = q.si[i], ci = q.ci[i];
    const double* k = q.knm + i * n;
    const std::size_t body = n - n % 8;
    double acc = 0.0;
    for (std::size_t j = 0; j < body; j += 8) {
        double b = (q.s[j] * ci - q.c[j] * si) * k[j];
        for (std::size_t t = 1; t < 8; ++t) b = b + (q.s[j + t] * ci - q.c[j + t] * si) * k[j + t];
        acc = acc + b;
    }
    for (std::size_t j = body; j < n; ++j) acc = acc + (q.s[j] * ci - q.c[j] * si) * k[j];
    return acc;
}

}  // namespace qel::pair_rows
