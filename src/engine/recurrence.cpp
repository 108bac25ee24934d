#include "engine/recurrence.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/util/checked.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"
#include "engine/util/pool.hpp"
#include "engine/util/pool_stop.hpp"
#include "engine/util/shannon.hpp"
#include "types/format.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qel::recurrence {

namespace {

// Square tiles of the output: each task measures one tile of point pairs and
// writes it (and, for the symmetric matrix, its transpose), so every byte is
// written by exactly one task and the work spreads evenly.
constexpr std::size_t kTile = 64;

// Coordinates regrouped coordinate-major (X[k*T + i]) so that the distances
// from one point to a run of others vectorise, each pair still summed over
// k = 0 .. d-1 in order from 0.0.
std::vector<double> coordinate_major(std::span<const double> traj, std::size_t t, std::size_t d) {
    std::vector<double> x(t * d);
    for (std::size_t i = 0; i < t; ++i)
        for (std::size_t k = 0; k < d; ++k) x[k * t + i] = traj[i * d + k];
    return x;
}

struct Measure {
    const double* a;  // coordinate-major, T points
    const double* b;
    std::size_t t, d;
    double eps2;
    bool angular;

    // tile[r*kTile + c] = whether point i0 + r of a recurs with point j0 + c of b,
    // for r < ni, c < nj.
    void tile(std::size_t i0, std::size_t ni, std::size_t j0, std::size_t nj, std::uint8_t* out) const {
        double acc[kTile];
        for (std::size_t r = 0; r < ni; ++r) {
            for (std::size_t c = 0; c < nj; ++c) acc[c] = 0.0;
            for (std::size_t k = 0; k < d; ++k) {
                const double xi = a[k * t + i0 + r];
                const double* y = b + k * t + j0;
                if (angular) {
                    for (std::size_t c = 0; c < nj; ++c) {
                        const double s = std::sin((xi - y[c]) * 0.5);
                        acc[c] = acc[c] + (s * 4.0) * s;
                    }
                } else {
                    for (std::size_t c = 0; c < nj; ++c) {
                        const double diff = xi - y[c];
                        acc[c] = acc[c] + diff * diff;
                    }
                }
            }
            std::uint8_t* row = out + r * kTile;
            for (std::size_t c = 0; c < nj; ++c) row[c] = acc[c] <= eps2 ? 1 : 0;
        }
    }
};

// T*T as a size, refused beyond a signed 64-bit count.
Result<std::size_t, PlainError> matrix_bytes(std::uint64_t t) {
    auto cells = checked_mul(t, t);
    if (!cells || *cells > static_cast<std::size_t>(std::numeric_limits<std::int64_t>::max()))
        return InternalError("capacity overflow");
    return *cells;
}

}  // namespace

namespace detail {

Result<std::size_t, PlainError> recurrence_bytes(std::span<const double> trajectory, std::uint64_t t, std::uint64_t d) {
    auto td = checked_mul(t, d);
    if (!td || trajectory.size() != *td)
        return PlainError::value_error(
            text::cat("trajectory length ", trajectory.size(), " != T*d=", text::product(t, d)));
    return matrix_bytes(t);
}

Result<void, PlainError> recurrence_matrix_into(std::span<const double> trajectory, std::uint64_t t, std::uint64_t d,
                                                double epsilon, bool angular, std::span<std::uint8_t> out) {
    if (t == 0) return {};

    const std::vector<double> x = coordinate_major(trajectory, t, d);
    const Measure m{x.data(), x.data(), t, d, epsilon * epsilon, angular};
    const std::size_t n_blocks = (t + kTile - 1) / kTile;
    // Upper-triangle tile pairs (I <= J), enumerated row by row.
    const std::size_t n_pairs = n_blocks * (n_blocks + 1) / 2;
    std::vector<std::size_t> first_pair(n_blocks);
    for (std::size_t bi = 0, p = 0; bi < n_blocks; p += n_blocks - bi, ++bi) first_pair[bi] = p;
    std::uint8_t* o = out.data();
    const bool done = pool::for_each_index_stoppable(n_pairs, [&](std::size_t p, const pool::Stop&) {
        const std::size_t bi =
            static_cast<std::size_t>(std::upper_bound(first_pair.begin(), first_pair.end(), p) - first_pair.begin()) -
            1;
        std::size_t bj = bi + (p - first_pair[bi]);
        const std::size_t i0 = bi * kTile, ni = std::min(kTile, t - i0);
        const std::size_t j0 = bj * kTile, nj = std::min(kTile, t - j0);
        std::uint8_t tile[kTile * kTile];
        m.tile(i0, ni, j0, nj, tile);
        if (bi == bj) {
            // The tile on the diagonal: its upper half mirrored, ones forced.
            for (std::size_t r = 0; r < ni; ++r) {
                std::uint8_t* row = o + (i0 + r) * t + j0;
                for (std::size_t c = 0; c < nj; ++c) {
                    if (c == r)
                        row[c] = 1;
                    else
                        row[c] = c > r ? tile[r * kTile + c] : tile[c * kTile + r];
                }
            }
            return;
        }
        for (std::size_t r = 0; r < ni; ++r) std::memcpy(o + (i0 + r) * t + j0, tile + r * kTile, nj);
        for (std::size_t c = 0; c < nj; ++c) {
            std::uint8_t* row = o + (j0 + c) * t + i0;
            for (std::size_t r = 0; r < ni; ++r) row[r] = tile[r * kTile + c];
        }
    });
    if (!done) return interrupted_error();
    return {};
}

Result<std::size_t, PlainError> cross_recurrence_bytes(std::span<const double> traj_a, std::span<const double> traj_b,
                                                       std::uint64_t t, std::uint64_t d) {
    auto td = checked_mul(t, d);
    if (!td || traj_a.size() != *td || traj_b.size() != *td)
        return PlainError::value_error(text::cat("trajectory lengths mismatch T*d=", text::product(t, d)));
    return matrix_bytes(t);
}

Result<void, PlainError> cross_recurrence_matrix_into(std::span<const double> traj_a, std::span<const double> traj_b,
                                                      std::uint64_t t, std::uint64_t d, double epsilon, bool angular,
                                                      std::span<std::uint8_t> out) {
    if (t == 0) return {};

    const std::vector<double> xa = coordinate_major(traj_a, t, d);
    const std::vector<double> xb = coordinate_major(traj_b, t, d);
    const Measure m{xa.data(), xb.data(), t, d, epsilon * epsilon, angular};
    const std::size_t n_blocks = (t + kTile - 1) / kTile;
    std::uint8_t* o = out.data();
    const bool done = pool::for_each_index_stoppable(n_blocks * n_blocks, [&](std::size_t p, const pool::Stop&) {
        const std::size_t i0 = (p / n_blocks) * kTile, ni = std::min(kTile, t - i0);
        const std::size_t j0 = (p % n_blocks) * kTile, nj = std::min(kTile, t - j0);
        std::uint8_t tile[kTile * kTile];
        m.tile(i0, ni, j0, nj, tile);
        for (std::size_t r = 0; r < ni; ++r) std::memcpy(o + (i0 + r) * t + j0, tile + r * kTile, nj);
    });
    if (!done) return interrupted_error();
    return {};
}

}  // namespace detail

// ---------------------------------------------------------------------------
// Recurrence quantification.
//
// The lines are counted on the pool, a band of neighbouring diagonals or of
// neighbouring columns per task: each task walks its band row by row (the
// band's cells of one row are contiguous), keeps a run counter per line, and
// tallies the runs it records into a histogram of its own. A zero cell
// records the run it ends, the end of a line records the run left open. The
// measures depend only on the histograms, which are integer counts, so adding
// the bands' tallies in any order gives the same result.

namespace {

struct LineStats {
    std::uint64_t count = 0, sum = 0, max = 0;
};

// Lines of length >= min_len from a histogram of run lengths.
LineStats select(const std::vector<std::uint64_t>& hist, std::uint64_t min_len) {
    LineStats s;
    for (std::size_t len = 0; len < hist.size(); ++len) {
        if (hist[len] == 0 || len < min_len) continue;
        s.count += hist[len];
        s.sum += hist[len] * len;
        s.max = len;
    }
    return s;
}

inline double ratio(std::uint64_t num, std::uint64_t den) {
    return den == 0 ? 0.0 : static_cast<double>(num) / static_cast<double>(den);
}

// Lines per task, and tasks per wave (between looks at Ctrl-C; a wave's
// histograms are T + 1 counters each).
constexpr std::size_t kBandLines = 256;
constexpr std::size_t kBandsPerWave = 64;

// The runs recorded by one band: hist[len] lines of length len >= 1, `empty`
// runs of length 0, and the non-zero cells seen.
struct Tally {
    std::vector<std::uint64_t> hist;
    std::uint64_t empty = 0, n_rec = 0;

    void end_run(std::uint32_t& run) {
        if (run == 0)
            ++empty;
        else
            ++hist[run];
        run = 0;
    }

    // One cell on each of n lines: run[c] follows cell[c].
    void cells(const std::uint8_t* cell, std::uint32_t* run, std::size_t n) {
        std::size_t c = 0;
        constexpr std::size_t kBlock = 16;
#if defined(__SSE2__)
        // Blocks where no non-empty run ends, sixteen cells in four registers.
        const __m128i zero = _mm_setzero_si128();
        const __m128i one = _mm_set1_epi32(1);
        for (; c + kBlock <= n; c += kBlock) {
            const __m128i z8 = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cell + c)), zero);
            const __m128i z16a = _mm_unpacklo_epi8(z8, z8), z16b = _mm_unpackhi_epi8(z8, z8);
            const __m128i z32[4] = {_mm_unpacklo_epi16(z16a, z16a), _mm_unpackhi_epi16(z16a, z16a),
                                    _mm_unpacklo_epi16(z16b, z16b), _mm_unpackhi_epi16(z16b, z16b)};
            __m128i r[4];
            __m128i ends = zero;
            for (std::size_t q = 0; q < 4; ++q) {
                r[q] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(run + c + 4 * q));
                ends = _mm_or_si128(ends, _mm_andnot_si128(_mm_cmpeq_epi32(r[q], zero), z32[q]));
            }
            if (_mm_movemask_epi8(ends) != 0) {
                for (std::size_t q = 0; q < kBlock; ++q) one_cell(cell[c + q] != 0, run[c + q]);
                continue;
            }
            for (std::size_t q = 0; q < 4; ++q)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(run + c + 4 * q),
                                 _mm_andnot_si128(z32[q], _mm_add_epi32(r[q], one)));
            const auto zeros = static_cast<std::uint64_t>(__builtin_popcount(_mm_movemask_epi8(z8)));
            empty += zeros;
            n_rec += kBlock - zeros;
        }
#endif
        for (; c + kBlock <= n; c += kBlock) {
            // Blocks where no non-empty run ends are updated without branches.
            std::uint32_t ends = 0, nz = 0;
            for (std::size_t q = 0; q < kBlock; ++q) {
                const std::uint32_t z = cell[c + q] == 0;
                ends |= z & (run[c + q] != 0);
                nz += 1 - z;
            }
            if (ends == 0) {
                for (std::size_t q = 0; q < kBlock; ++q) {
                    const std::uint32_t keep = cell[c + q] != 0 ? 0xffffffffu : 0u;
                    run[c + q] = (run[c + q] + 1) & keep;
                }
                n_rec += nz;
                empty += kBlock - nz;
                continue;
            }
            for (std::size_t q = 0; q < kBlock; ++q) one_cell(cell[c + q] != 0, run[c + q]);
        }
        for (; c < n; ++c) one_cell(cell[c] != 0, run[c]);
    }

    void one_cell(bool nz, std::uint32_t& run) {
        if (nz) {
            ++run;
            ++n_rec;
        } else {
            end_run(run);
        }
    }
};

// Diagonals q = j - i + T - 1 in [q0, q1) (run lengths never exceed T < 2^32).
// The excluded main diagonal is neither scanned nor closed.
void diagonal_band(const std::uint8_t* m, std::size_t t, std::size_t q0, std::size_t q1, bool skip_main, Tally& tally) {
    std::vector<std::uint32_t> run(q1 - q0, 0);
    for (std::size_t i = 0; i < t; ++i) {
        // Columns i + q - (T - 1) for q in [q0, q1), clipped to [0, T).
        const std::size_t jb = i + q0 >= t - 1 ? i + q0 - (t - 1) : 0;
        const std::size_t je = std::min(t, i + q1 >= t - 1 ? i + q1 - (t - 1) : 0);
        if (jb >= je) continue;
        const std::uint8_t* row = m + i * t;
        // The run of cell (i, j), for j >= jb.
        auto r = [&](std::size_t j) { return run.data() + (j + (t - 1 - i) - q0); };
        if (skip_main && i >= jb && i < je) {
            tally.cells(row + jb, r(jb), i - jb);
            tally.cells(row + i + 1, r(i + 1), je - i - 1);
        } else {
            tally.cells(row + jb, r(jb), je - jb);
        }
    }
    for (std::size_t q = q0; q < q1; ++q)
        if (!(skip_main && q == t - 1)) tally.end_run(run[q - q0]);
}

// Columns [j0, j1); an excluded main-diagonal cell ends its column's run
// like a zero.
void column_band(const std::uint8_t* m, std::size_t t, std::size_t j0, std::size_t j1, bool skip_main, Tally& tally) {
    std::vector<std::uint32_t> run(j1 - j0, 0);
    std::uint32_t* r = run.data();
    for (std::size_t i = 0; i < t; ++i) {
        const std::uint8_t* row = m + i * t;
        if (skip_main && i >= j0 && i < j1) {
            tally.cells(row + j0, r, i - j0);
            tally.end_run(r[i - j0]);
            tally.cells(row + i + 1, r + (i + 1 - j0), j1 - i - 1);
        } else {
            tally.cells(row + j0, r, j1 - j0);
        }
    }
    for (std::uint32_t& v : run) tally.end_run(v);
}

// The tallies of `lines` scan lines cut into bands, summed: the histogram
// with the empty runs at length 0, and the non-zero cells. False when
// interrupted.
template <class Band>
bool scan_bands(std::size_t t, std::size_t lines, Band band, std::vector<std::uint64_t>& hist, std::uint64_t& n_rec) {
    hist.assign(t + 1, 0);
    n_rec = 0;
    std::uint64_t empty = 0;
    const std::size_t n_bands = (lines + kBandLines - 1) / kBandLines;
    std::vector<Tally> tallies(std::min(n_bands, kBandsPerWave));
    for (std::size_t w0 = 0; w0 < n_bands; w0 += kBandsPerWave) {
        if (w0 > 0 && interrupted()) return false;
        const std::size_t w1 = std::min(n_bands, w0 + kBandsPerWave);
        pool::for_each_index(w1 - w0, [&](std::size_t k) {
            Tally& tally = tallies[k];
            tally.hist.assign(t + 1, 0);
            tally.empty = tally.n_rec = 0;
            const std::size_t b = (w0 + k) * kBandLines;
            band(b, std::min(lines, b + kBandLines), tally);
        });
        for (std::size_t k = 0; k < w1 - w0; ++k) {
            for (std::size_t len = 0; len <= t; ++len) hist[len] += tallies[k].hist[len];
            empty += tallies[k].empty;
            n_rec += tallies[k].n_rec;
        }
    }
    hist[0] += empty;
    return true;
}

}  // namespace

Result<RqaMeasures, PlainError> rqa(std::span<const std::uint8_t> matrix, std::uint64_t t, std::uint64_t l_min,
                                    std::uint64_t v_min, bool exclude_main_diagonal) {
    auto tt = checked_mul(t, t);
    if (!tt || matrix.size() != *tt)
        return PlainError::value_error(
            text::cat("recurrence length ", matrix.size(), " != T\xc2\xb2=", text::product(t, t)));
    RqaMeasures m;
    if (t == 0) return m;

    // The caller's matrix is only read: the excluded diagonal is skipped in
    // place rather than zeroed in a copy.
    const std::uint8_t* cells = matrix.data();
    const bool skip = exclude_main_diagonal;
    std::vector<std::uint64_t> hd, hv;
    std::uint64_t n_rec_d = 0, n_rec = 0;
    auto diagonals = [&](std::size_t b, std::size_t e, Tally& y) { diagonal_band(cells, t, b, e, skip, y); };
    auto columns = [&](std::size_t b, std::size_t e, Tally& y) { column_band(cells, t, b, e, skip, y); };
    if (!scan_bands(t, 2 * t - 1, diagonals, hd, n_rec_d) || !scan_bands(t, t, columns, hv, n_rec))
        return interrupted_error();

    m.rr = ratio(n_rec, t * t - (exclude_main_diagonal ? t : 0));

    const LineStats diag = select(hd, l_min);
    if (diag.count != 0) {
        m.det = ratio(diag.sum, n_rec);
        m.avg_diag = ratio(diag.sum, diag.count);
        m.max_diag = diag.max;
        // Entropy of the length distribution, lengths in ascending order,
        // subtracted term by term from -0.0.
        const auto from = static_cast<std::size_t>(std::min<std::uint64_t>(l_min, hd.size()));
        m.ent_diag = shannon_sum(std::span(hd).subspan(from), static_cast<double>(diag.count), std::identity{}, -0.0);
    }
    const LineStats vert = select(hv, v_min);
    if (vert.count != 0) {
        m.lam = ratio(vert.sum, n_rec);
        m.trap_time = ratio(vert.sum, vert.count);
        m.max_vert = vert.max;
    }
    return m;
}

}  // namespace qel::recurrence
