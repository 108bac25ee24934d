#include "engine/recurrence.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/util/checked.hpp"
#include "engine/util/interrupt.hpp"
#include "engine/util/pool.hpp"
#include "engine/util/shannon.hpp"
#include "types/format.hpp"

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
        return PlainError::internal_error("capacity overflow");
    return *cells;
}

}  // namespace

Result<void, PlainError> recurrence_matrix(std::span<const double> trajectory, std::uint64_t t, std::uint64_t d,
                                           double epsilon, bool angular, const ByteSink& sink) {
    auto td = checked_mul(t, d);
    if (!td || trajectory.size() != *td)
        return PlainError::value_error(
            text::cat("trajectory length ", trajectory.size(), " != T*d=", text::product(t, d)));
    auto bytes = matrix_bytes(t);
    if (!bytes) return std::move(bytes).error();
    std::span<std::uint8_t> out = sink(bytes.value());
    if (t == 0) return {};

    const std::vector<double> x = coordinate_major(trajectory, t, d);
    const Measure m{x.data(), x.data(), t, d, epsilon * epsilon, angular};
    const std::size_t n_blocks = (t + kTile - 1) / kTile;
    // Upper-triangle tile pairs (I <= J), enumerated row by row.
    const std::size_t n_pairs = n_blocks * (n_blocks + 1) / 2;
    std::vector<std::size_t> first_pair(n_blocks);
    for (std::size_t bi = 0, p = 0; bi < n_blocks; p += n_blocks - bi, ++bi) first_pair[bi] = p;
    std::uint8_t* o = out.data();
    pool::for_each_index(n_pairs, [&](std::size_t p) {
        const std::size_t bi =
            static_cast<std::size_t>(std::upper_bound(first_pair.begin(), first_pair.end(), p) - first_pair.begin()) - 1;
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
                    if (c == r) row[c] = 1;
                    else row[c] = c > r ? tile[r * kTile + c] : tile[c * kTile + r];
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
    return {};
}

Result<void, PlainError> cross_recurrence_matrix(std::span<const double> traj_a, std::span<const double> traj_b,
                                                 std::uint64_t t, std::uint64_t d, double epsilon, bool angular,
                                                 const ByteSink& sink) {
    auto td = checked_mul(t, d);
    if (!td || traj_a.size() != *td || traj_b.size() != *td)
        return PlainError::value_error(text::cat("trajectory lengths mismatch T*d=", text::product(t, d)));
    auto bytes = matrix_bytes(t);
    if (!bytes) return std::move(bytes).error();
    std::span<std::uint8_t> out = sink(bytes.value());
    if (t == 0) return {};

    const std::vector<double> xa = coordinate_major(traj_a, t, d);
    const std::vector<double> xb = coordinate_major(traj_b, t, d);
    const Measure m{xa.data(), xb.data(), t, d, epsilon * epsilon, angular};
    const std::size_t n_blocks = (t + kTile - 1) / kTile;
    std::uint8_t* o = out.data();
    pool::for_each_index(n_blocks * n_blocks, [&](std::size_t p) {
        const std::size_t i0 = (p / n_blocks) * kTile, ni = std::min(kTile, t - i0);
        const std::size_t j0 = (p % n_blocks) * kTile, nj = std::min(kTile, t - j0);
        std::uint8_t tile[kTile * kTile];
        m.tile(i0, ni, j0, nj, tile);
        for (std::size_t r = 0; r < ni; ++r) std::memcpy(o + (i0 + r) * t + j0, tile + r * kTile, nj);
    });
    return {};
}

// ---------------------------------------------------------------------------
// Recurrence quantification.
//
// One row-major pass over the matrix follows every diagonal and every column
// at once: a run counter per diagonal (indexed j - i + T - 1) and per column.
// A zero cell records the run it ends, the end of a line records the run left
// open. The measures depend only on the histogram of recorded lengths, so the
// order in which lines end does not matter.

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

class RunScan {
public:
    explicit RunScan(std::size_t t)
        : t_(t), diag_(2 * t - 1, 0), vert_(t, 0), hist_d_(t + 1, 0), hist_v_(t + 1, 0) {}

    // Cells [b, e) of row i, main-diagonal cell excluded from the range.
    void cells(const std::uint8_t* row, std::size_t i, std::size_t b, std::size_t e) {
        std::uint32_t* dr = diag_.data() + (t_ - 1 - i);
        std::uint32_t* v = vert_.data();
        std::size_t j = b;
        constexpr std::size_t kBlock = 16;
        for (; j + kBlock <= e; j += kBlock) {
            // Blocks where no non-empty run ends are updated without branches.
            std::uint32_t ends = 0, nz = 0;
            for (std::size_t c = 0; c < kBlock; ++c) {
                const std::uint32_t z = row[j + c] == 0;
                ends |= z & ((dr[j + c] | v[j + c]) != 0);
                nz += 1 - z;
            }
            if (ends == 0) {
                for (std::size_t c = 0; c < kBlock; ++c) {
                    const std::uint32_t keep = row[j + c] != 0 ? 0xffffffffu : 0u;
                    dr[j + c] = (dr[j + c] + 1) & keep;
                    v[j + c] = (v[j + c] + 1) & keep;
                }
                n_rec_ += nz;
                empty_d_ += kBlock - nz;
                empty_v_ += kBlock - nz;
                continue;
            }
            for (std::size_t c = 0; c < kBlock; ++c) cell(row[j + c] != 0, dr[j + c], v[j + c]);
        }
        for (; j < e; ++j) cell(row[j] != 0, dr[j], v[j]);
    }

    // The main-diagonal cell of row i when it is excluded: a zero for its
    // column, nothing for the diagonal, which is not scanned.
    void excluded_cell(std::size_t i) { end_run(vert_[i], hist_v_, empty_v_); }

    // Records the runs left open at the ends of the lines.
    void finish(bool skip_main) {
        for (std::size_t q = 0; q < diag_.size(); ++q)
            if (!(skip_main && q == t_ - 1)) end_run(diag_[q], hist_d_, empty_d_);
        for (std::uint32_t& r : vert_) end_run(r, hist_v_, empty_v_);
        hist_d_[0] += empty_d_;
        hist_v_[0] += empty_v_;
    }

    std::uint64_t n_rec() const { return n_rec_; }
    const std::vector<std::uint64_t>& hist_d() const { return hist_d_; }
    const std::vector<std::uint64_t>& hist_v() const { return hist_v_; }

private:
    static void end_run(std::uint32_t& run, std::vector<std::uint64_t>& hist, std::uint64_t& empty) {
        if (run == 0)
            ++empty;
        else
            ++hist[run];
        run = 0;
    }
    void cell(bool nz, std::uint32_t& d, std::uint32_t& v) {
        if (nz) {
            ++d;
            ++v;
            ++n_rec_;
        } else {
            end_run(d, hist_d_, empty_d_);
            end_run(v, hist_v_, empty_v_);
        }
    }

    std::size_t t_;
    std::vector<std::uint32_t> diag_, vert_;  // run lengths never exceed T < 2^32
    std::vector<std::uint64_t> hist_d_, hist_v_;
    std::uint64_t n_rec_ = 0, empty_d_ = 0, empty_v_ = 0;
};

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
    RunScan scan(t);
    for (std::size_t i = 0; i < t; ++i) {
        if (i % 64 == 0 && interrupted()) return PlainError::value_error("interrupted");
        const std::uint8_t* row = matrix.data() + i * t;
        if (exclude_main_diagonal) {
            scan.cells(row, i, 0, i);
            scan.excluded_cell(i);
            scan.cells(row, i, i + 1, t);
        } else {
            scan.cells(row, i, 0, t);
        }
    }
    scan.finish(exclude_main_diagonal);

    const std::uint64_t n_rec = scan.n_rec();
    m.rr = ratio(n_rec, t * t - (exclude_main_diagonal ? t : 0));

    const std::vector<std::uint64_t>& hd = scan.hist_d();
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
    const LineStats vert = select(scan.hist_v(), v_min);
    if (vert.count != 0) {
        m.lam = ratio(vert.sum, n_rec);
        m.trap_time = ratio(vert.sum, vert.count);
        m.max_vert = vert.max;
    }
    return m;
}

}  // namespace qel::recurrence
