// The four-lane vectors below only travel between functions inlined into one
// clone, so the note that their calling convention differs with AVX does not
// concern us.
#pragma GCC diagnostic ignored "-Wpsabi"
#include "engine/lyapunov.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

#include "engine/util/checked.hpp"
#include "engine/util/finite.hpp"
#include "engine/util/float_sort.hpp"
#include "engine/util/integrators.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"
#include "engine/util/lanes.hpp"
#include "engine/util/pool.hpp"
#include "engine/util/scratch.hpp"
#include "engine/util/wrap.hpp"
#include "types/format.hpp"

namespace qel::lyapunov {

namespace {

// Below this many oscillators every loop stays on the calling thread; the
// split never changes a bit, only the overhead.
constexpr std::size_t kParallelMinN = 64;
constexpr std::size_t kRhsChunk = 16;
constexpr std::size_t kJqChunk = 16;

template <class F>
void over_rows(std::size_t n, std::size_t chunk, F&& f) {
    if (n < kParallelMinN)
        f(std::size_t{0}, n);
    else
        pool::for_chunks(n, chunk, f);
}

// J q for a block of rows. Row i of the output is
//   (sum over j != i, ascending, of w_ij q_j, from 0.0) - (diag_i + f_i) q_i
// per column; rows are taken G at a time and columns C at a time so that
// each loaded element of q serves G rows. Each lane is one entry with its own
// sum, so the tile's shape and the width of the vectors change no bit.
struct JqKernel {
    std::size_t n;
    const double* q;
    const double* w;     // w[i*n + j], j != i
    const double* dsum;  // diag_i + f_i
    double* out;

    template <class V, std::size_t G, std::size_t C>
    [[gnu::always_inline]] void block(std::size_t i0, std::size_t c0) const {
        constexpr std::size_t L = sizeof(V) / sizeof(double);
        constexpr std::size_t NV = C / L;
        V acc[G][NV] = {};
        const double* wr[G];
        for (std::size_t g = 0; g < G; ++g) wr[g] = w + (i0 + g) * n;
        auto all = [&](std::size_t j) {
            const double* qj = q + j * n + c0;
            V x[NV];
            for (std::size_t v = 0; v < NV; ++v) x[v] = lanes::load<V>(qj + L * v);
            for (std::size_t g = 0; g < G; ++g) {
                const V wg = lanes::splat<V>(wr[g][j]);
                for (std::size_t v = 0; v < NV; ++v) acc[g][v] = acc[g][v] + wg * x[v];
            }
        };
        for (std::size_t j = 0; j < i0; ++j) all(j);
        for (std::size_t j = i0; j < i0 + G; ++j) {
            const double* qj = q + j * n + c0;
            for (std::size_t g = 0; g < G; ++g) {
                if (i0 + g == j) continue;
                const V wg = lanes::splat<V>(wr[g][j]);
                for (std::size_t v = 0; v < NV; ++v) acc[g][v] = acc[g][v] + wg * lanes::load<V>(qj + L * v);
            }
        }
        for (std::size_t j = i0 + G; j < n; ++j) all(j);
        for (std::size_t g = 0; g < G; ++g) {
            const std::size_t i = i0 + g;
            const V dg = lanes::splat<V>(dsum[i]);
            for (std::size_t v = 0; v < NV; ++v) {
                const std::size_t c = c0 + L * v;
                lanes::store(out + i * n + c, acc[g][v] - dg * lanes::load<V>(q + i * n + c));
            }
        }
    }

    // Any row, columns [c0, c1): the same sums, one row at a time.
    void row(std::size_t i, std::size_t c0, std::size_t c1) const {
        double* o = out + i * n;
        for (std::size_t c = c0; c < c1; ++c) o[c] = 0.0;
        const double* wi = w + i * n;
        for (std::size_t j = 0; j < n; ++j) {
            if (j == i) continue;
            const double wj = wi[j];
            const double* qj = q + j * n;
            for (std::size_t c = c0; c < c1; ++c) o[c] = o[c] + wj * qj[c];
        }
        const double* qi = q + i * n;
        for (std::size_t c = c0; c < c1; ++c) o[c] = o[c] - dsum[i] * qi[c];
    }

    // Rows [b, e): column strips outside, row groups inside, so that the rows
    // take the same strip of q while it is in cache; the rows and columns
    // left over by the tiles one row at a time.
    template <class V, std::size_t G, std::size_t C>
    [[gnu::always_inline]] void rows(std::size_t b, std::size_t e) const {
        const std::size_t body_cols = n - n % C;
        const std::size_t groups_end = b + (e - b) / G * G;
        for (std::size_t c0 = 0; c0 < body_cols; c0 += C)
            for (std::size_t i = b; i < groups_end; i += G) block<V, G, C>(i, c0);
        for (std::size_t i = b; i < groups_end; ++i) row(i, body_cols, n);
        for (std::size_t i = groups_end; i < e; ++i) row(i, 0, n);
    }
};

// A second copy for processors with AVX2 runs four lanes per vector (no
// fused multiply-add: every product is still rounded before it is added).
__attribute__((target_clones("avx2", "default"))) void jq_rows(const JqKernel& k, std::size_t b, std::size_t e) {
    k.rows<lanes::v4, 4, 8>(b, e);
}

// Without lags: fills sin_buf, cos_buf with the sines and cosines of the
// phases and writes the phase velocities into out.
void compute_rhs(std::size_t n, std::span<const double> phases, std::span<double> sin_buf, std::span<double> cos_buf,
                 std::span<const double> omegas, std::span<const double> knm, std::span<double> out,
                 const Drive& drive) {
    for (std::size_t j = 0; j < n; ++j) ::sincos(phases[j], &sin_buf[j], &cos_buf[j]);
    const kit::Pairwise pw{n, phases.data(), sin_buf.data(), cos_buf.data(), knm.data(), nullptr};
    over_rows(n, kRhsChunk, [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i) {
            const double f = drive.on ? drive.term(sin_buf[i], cos_buf[i]) : 0.0;
            out[i] = (kit::pairwise_row(pw, i, true) + omegas[i]) + f;
        }
    });
}

// Without lags: out = J q, row-major n x n, with sin_buf and cos_buf as
// compute_rhs left them for the same phases. weights is n*n + n scratch.
void compute_jq(std::size_t n, std::span<const double> sin_buf, std::span<const double> cos_buf,
                std::span<const double> knm, std::span<const double> q, const Drive& drive, std::span<double> out,
                std::span<double> weights) {
    double* dsum = weights.data() + n * n;
    const JqKernel kernel{n, q.data(), weights.data(), dsum, out.data()};
    over_rows(n, kJqChunk, [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i) {
            const double* k = knm.data() + i * n;
            double* w = weights.data() + i * n;
            const double si = sin_buf[i], ci = cos_buf[i];
            for (std::size_t j = 0; j < n; ++j) w[j] = k[j] * (cos_buf[j] * ci + sin_buf[j] * si);
            double diag = 0.0;
            for (std::size_t j = 0; j < n; ++j)
                if (j != i) diag = diag + w[j];
            const double f = drive.on ? ci * drive.zc + si * drive.zs : 0.0;
            dsum[i] = diag + f;
        }
        jq_rows(kernel, b, e);
    });
}

// One stage with lags: the dense stepper's phase velocities, sum for sum
// (without a drive it adds no 0.0 term: only the sign of an exact zero
// differs), and J q, with one sincos per pair for the sine of the one and the
// cosine of the other (glibc's sincos gives the bits of sin and cos).
void lagged_stage(std::size_t n, std::span<const double> phases, std::span<double> sin_buf, std::span<double> cos_buf,
                  std::span<const double> omegas, std::span<const double> knm, std::span<const double> alpha,
                  std::span<double> out, std::span<const double> q, const Drive& drive, std::span<double> jq_out,
                  std::span<double> weights) {
    for (std::size_t j = 0; j < n; ++j) ::sincos(phases[j], &sin_buf[j], &cos_buf[j]);
    double* dsum = weights.data() + n * n;
    const JqKernel kernel{n, q.data(), weights.data(), dsum, jq_out.data()};
    const double* th = phases.data();
    over_rows(n, kJqChunk, [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i) {
            const double* k = knm.data() + i * n;
            const double* a = alpha.data() + i * n;
            double* w = weights.data() + i * n;
            const double ti = th[i], si = sin_buf[i], ci = cos_buf[i];
            // The dense stepper's row (its sum, then + omega, then + drive),
            // and the Jacobian's weights and their sum without j == i.
            double sum = 0.0, diag = 0.0;
            for (std::size_t j = 0; j < n; ++j) {
                double sn, cn;
                ::sincos((th[j] - ti) - a[j], &sn, &cn);
                sum = sum + sn * k[j];
                if (j == i) {
                    w[j] = 0.0;
                } else {
                    w[j] = k[j] * cn;
                    diag = diag + w[j];
                }
            }
            double o = sum + omegas[i];
            if (drive.on) o = o + drive.term(si, ci);
            out[i] = o;
            dsum[i] = diag + (drive.on ? ci * drive.zc + si * drive.zs : 0.0);
        }
        jq_rows(kernel, b, e);
    });
}

// Gram-Schmidt on the columns of q, with n*n of scratch to hold them as rows.
void gram_schmidt(std::span<double> q, std::size_t n, double* cols, std::span<double> norms) {
    // Column k is projected against columns 0 .. k-1 twice, each projection
    // with the current column k. The first round is pushed forward: once
    // column i is final it is projected out of every later column at once
    // (each later column still sees i after 0 .. i-1, with the same sums).
    // The columns are worked on as contiguous rows of `cols`.
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t c = 0; c < n; ++c) cols[c * n + r] = q[r * n + c];
    for (std::size_t k = 0; k < n; ++k) {
        double* v = cols + k * n;
        for (std::size_t i = 0; i < k; ++i) {
            const double* u = cols + i * n;
            double d = 0.0;
            for (std::size_t r = 0; r < n; ++r) d = d + u[r] * v[r];
            for (std::size_t r = 0; r < n; ++r) v[r] = v[r] - u[r] * d;
        }
        double ss = 0.0;
        for (std::size_t r = 0; r < n; ++r) ss = ss + v[r] * v[r];
        const double norm = std::sqrt(ss);
        norms[k] = norm;
        if (norm > 1e-300) {
            const double inv = 1.0 / norm;
            for (std::size_t r = 0; r < n; ++r) v[r] = v[r] * inv;
        }
        if (k + 1 == n) break;
        // Later columns four at a time: four independent sums in flight.
        auto project = [&](std::size_t c0, std::size_t c1) {
            std::size_t c = c0;
            for (; c + 4 <= c1; c += 4) {
                double* w0 = cols + c * n;
                double* w1 = w0 + n;
                double* w2 = w1 + n;
                double* w3 = w2 + n;
                double d0 = 0.0, d1 = 0.0, d2 = 0.0, d3 = 0.0;
                for (std::size_t r = 0; r < n; ++r) {
                    d0 = d0 + v[r] * w0[r];
                    d1 = d1 + v[r] * w1[r];
                    d2 = d2 + v[r] * w2[r];
                    d3 = d3 + v[r] * w3[r];
                }
                for (std::size_t r = 0; r < n; ++r) {
                    w0[r] = w0[r] - v[r] * d0;
                    w1[r] = w1[r] - v[r] * d1;
                    w2[r] = w2[r] - v[r] * d2;
                    w3[r] = w3[r] - v[r] * d3;
                }
            }
            for (; c < c1; ++c) {
                double* w = cols + c * n;
                double d = 0.0;
                for (std::size_t r = 0; r < n; ++r) d = d + v[r] * w[r];
                for (std::size_t r = 0; r < n; ++r) w[r] = w[r] - v[r] * d;
            }
        };
        const std::size_t later = n - k - 1;
        if (later * n < (std::size_t{1} << 15))
            project(k + 1, n);
        else
            pool::for_chunks(later, 16, [&](std::size_t b, std::size_t e) { project(k + 1 + b, k + 1 + e); });
    }
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t c = 0; c < n; ++c) q[r * n + c] = cols[c * n + r];
}

}  // namespace

std::vector<double> modified_gram_schmidt(std::span<double> q, std::size_t n) {
    std::vector<double> norms(n), cols(n * n);
    gram_schmidt(q, n, cols.data(), norms);
    return norms;
}

Result<std::vector<double>, PlainError> lyapunov_spectrum(std::span<const double> phases_init,
                                                          std::span<const double> omegas, std::span<const double> knm,
                                                          std::span<const double> alpha, double dt,
                                                          std::uint64_t n_steps, std::uint64_t qr_interval, double zeta,
                                                          double psi) {
    const std::size_t n = phases_init.size();
    if (omegas.size() != n)
        return PlainError::value_error(text::cat("omegas length ", omegas.size(), " != phases length ", n));
    auto nn = checked_mul(n, n);
    if (!nn || knm.size() != *nn)
        return PlainError::value_error(text::cat("knm length ", knm.size(), " != N*N=", text::product(n, n)));
    if (alpha.size() != *nn)
        return PlainError::value_error(text::cat("alpha length ", alpha.size(), " != N*N=", text::product(n, n)));
    if (n == 0) return std::vector<double>{};
    if (qr_interval == 0) return PlainError::value_error("qr_interval must be > 0");
    for (std::size_t i = 0; i < n; ++i)
        if (std::fabs(knm[i * n + i]) > 1e-12)
            return PlainError::value_error(
                "knm diagonal must be zero; Kuramoto self-coupling is not a physical pair interaction");

    // State y = (theta, Q); the Runge-Kutta stages run over both at once.
    const std::size_t len = n + *nn;
    // Buffers, once per call: the state, four slopes and the stage (each
    // n + n*n), the Jacobian's weights and row sums (n*n + n), sines, cosines.
    auto six = checked_mul(len, 6);
    auto total = six ? checked_add(*six, *nn + 3 * n) : std::nullopt;
    if (!total) throw std::bad_alloc();
    ScratchBlock block(*total);
    double* p = block.data();
    std::span<double> y(p, len), k1(p + len, len), k2(p + 2 * len, len), k3(p + 3 * len, len), k4(p + 4 * len, len),
        stage(p + 5 * len, len), weights(p + 6 * len, *nn + n);
    std::span<double> sin_buf(p + 6 * len + *nn + n, n), cos_buf(p + 6 * len + *nn + 2 * n, n);

    std::span<double> theta = y.first(n), q = y.subspan(n);
    std::vector<double> sums(n, 0.0), norms(n);
    std::copy(phases_init.begin(), phases_init.end(), theta.begin());
    for (std::size_t k = 0; k < n; ++k) q[k * n + k] = 1.0;
    if (zeta == 0.0) {
        // Start the first tangent vector along the uniform phase shift.
        const double u = 1.0 / std::sqrt(static_cast<double>(n));
        for (std::size_t r = 0; r < n; ++r) q[r * n] = u;
        gram_schmidt(q, n, weights.data(), norms);  // these norms are not kept
    }
    const bool alpha_all_zero = scan_finite_zero(alpha).zero;
    const Drive drive = Drive::of(zeta, psi);

    auto f = [&](std::span<const double> s, std::span<double> out) {
        if (!alpha_all_zero) {
            lagged_stage(n, s.first(n), sin_buf, cos_buf, omegas, knm, alpha, out.first(n), s.subspan(n), drive,
                         out.subspan(n), weights);
            return;
        }
        compute_rhs(n, s.first(n), sin_buf, cos_buf, omegas, knm, out.first(n), drive);
        compute_jq(n, sin_buf, cos_buf, knm, s.subspan(n), drive, out.subspan(n), weights);
    };
    const integrators::Rk4Buffers buffers{k1, k2, k3, k4, stage};
    std::uint64_t n_qr = 0;
    double t = 0.0;
    for (std::uint64_t s = 1; s <= n_steps; ++s) {
        if (interrupted()) return interrupted_error();
        integrators::rk4_substep(f, y, buffers, dt);
        wrap_phases(theta);
        if (s % qr_interval == 0) {
            // The Jacobian's weights are free between steps: they hold the columns.
            gram_schmidt(q, n, weights.data(), norms);
            for (std::size_t k = 0; k < n; ++k) {
                const double a = std::fabs(norms[k]);
                // A vanishing norm is floored; a NaN one stays NaN.
                sums[k] = sums[k] + std::log(a > 1e-300 || std::isnan(a) ? a : 1e-300);
            }
            ++n_qr;
        }
        t = t + dt;
    }
    if (n_qr > 0)
        for (double& v : sums) v = v / t;
    stable_sort_descending(sums);
    return sums;
}

}  // namespace qel::lyapunov
