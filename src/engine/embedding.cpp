#include "engine/embedding.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "engine/util/checked.hpp"
#include "engine/util/code_count.hpp"
#include "engine/util/count_below.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/mutual_information.hpp"
#include "engine/util/phase_bins.hpp"
#include "engine/util/pool.hpp"
#include "engine/util/pool_stop.hpp"
#include "engine/util/saturate.hpp"
#include "engine/util/sq_dist.hpp"
#include "types/format.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qel::embedding {

namespace {

// Embeddings at least this large are filled on the pool (a plain copy: the
// split cannot change a value).
constexpr std::size_t kParallelValues = std::size_t{1} << 16;
constexpr std::size_t kEmbedChunkRows = 8192;
constexpr std::size_t kInterleavedCells = std::size_t{1} << 14;

// Neighbour search: rows per pool task, and
// candidate rows whose squared distances are formed together.
constexpr std::size_t kRowsPerTask = 8;
constexpr std::size_t kBlock = 512;
// The tree serves embeddings of at least kTreeRows rows and at most
// kTreeDims coordinates (beyond, it prunes too little to pay).
constexpr std::size_t kTreeRows = 256;
constexpr std::size_t kTreeDims = 16;
constexpr std::size_t kTreeMaxRows = std::size_t{1} << 31;  // node numbers fit 32 bits
constexpr std::size_t kTreeRowsPerTask = 64;

// Bin codes of the whole signal against its global extremes (NaN passed
// over), or an empty vector when every lag's mutual information is 0.0.
std::vector<std::uint64_t> bin_codes(std::span<const double> x, std::size_t n_bins) {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
    for (double v : x) {
        if (v > hi) hi = v;
        if (v < lo) lo = v;
    }
    if (hi - lo == 0.0) return {};
    const double width = (hi - lo) / static_cast<double>(n_bins);
    std::vector<std::uint64_t> codes(x.size());
    for (std::size_t t = 0; t < x.size(); ++t) codes[t] = bin_index(x[t] - lo, width, n_bins);
    return codes;
}

// The MI sum over the non-zero cells in row-major order (a ascending, then
// b ascending), probabilities as counts times 1 / n.
template <class Cells, class Row, class Col>
double mi_sum(std::size_t n, Cells cells, Row row, Col col) {
    const double inv = 1.0 / static_cast<double>(n);
    return mutual_information_sum(cells, row, col, [inv](double c) { return c * inv; });
}

// Mutual information of the codes and the codes k samples later. A dense
// joint table when it has no more cells than the lag has samples; otherwise
// exact counts of the observed pairs, so that memory follows the samples
// and never n_bins^2. Both visit the same cells in the same order.
double mutual_information(std::span<const std::uint64_t> codes, std::size_t k, std::size_t n_bins) {
    const std::size_t n = codes.size() - k;
    const std::span<const std::uint64_t> now = codes.first(n), later = codes.subspan(k, n);
    if (n_bins <= n / n_bins) {
        // Small tables come in four interleaved parts, so that runs of equal
        // pairs do not wait on one counter; integer counts add up exactly in
        // any order. Large ones stay single, within the lag's samples.
        const std::size_t cells = n_bins * n_bins;
        const std::size_t parts = cells <= kInterleavedCells ? 4 : 1;
        std::vector<std::uint64_t> tables(parts * cells, 0), row(n_bins, 0), col(n_bins, 0);
        std::size_t t = 0;
        if (parts == 4)
            for (; t + 4 <= n; t += 4)
                for (std::size_t q = 0; q < 4; ++q) ++tables[q * cells + now[t + q] * n_bins + later[t + q]];
        for (; t < n; ++t) ++tables[now[t] * n_bins + later[t]];
        for (std::size_t c = 0; c < cells; ++c) {
            std::uint64_t v = tables[c];
            for (std::size_t q = 1; q < parts; ++q) v += tables[q * cells + c];
            tables[c] = v;
            row[c / n_bins] += v;
            col[c % n_bins] += v;
        }
        return mi_sum(
            n,
            [&](auto visit) {
                for (std::size_t c = 0; c < cells; ++c)
                    if (tables[c] != 0) visit(c / n_bins, c % n_bins, tables[c]);
            },
            [&](std::uint64_t a) { return row[a]; }, [&](std::uint64_t b) { return col[b]; });
    }
    const auto joint = code_count::count<2>({now, later}, {n_bins, n_bins});
    const auto rows = code_count::count<1>({now}, {n_bins});
    const auto cols = code_count::count<1>({later}, {n_bins});
    // Every code looked up was observed, so it is in the list.
    auto lookup = [](const std::vector<code_count::Cell<1>>& list, std::uint64_t code) {
        return std::lower_bound(list.begin(), list.end(), code,
                                [](const code_count::Cell<1>& c, std::uint64_t v) { return c.key[0] < v; })
            ->count;
    };
    return mi_sum(
        n,
        [&](auto visit) {
            for (const auto& c : joint) visit(c.key[0], c.key[1], c.count);
        },
        [&](std::uint64_t a) { return lookup(rows, a); }, [&](std::uint64_t b) { return lookup(cols, b); });
}

// The exhaustive scan's rule, over candidates (squared distance, row) in
// ascending row order: a row replaces the kept one when its squared distance
// is strictly below the square of the kept distance.
struct Candidate {
    double s;
    std::size_t j;
};

std::pair<double, std::size_t> scan_rule(const Candidate* c, std::size_t n) {
    double best = std::numeric_limits<double>::infinity();
    std::size_t best_index = 0;
    for (std::size_t k = 0; k < n; ++k) {
        if (c[k].s < best * best) {
            best = std::sqrt(c[k].s);
            best_index = c[k].j;
        }
    }
    return {best, best_index};
}

// A k-d tree over the rows, which answers each row with exactly the record of
// the exhaustive scan. Distances are formed as the scan forms them (squared
// differences summed over the coordinates in order from 0.0); a node's bound
// sums the squared gaps to its box the same way, and since rounding is
// monotone it never exceeds the distance to any row inside. The tree gathers
// every row whose squared distance s lies within a relative 1e-6 of the
// least; the scan's rule compares s with the square of a square root, which
// is within a few units in the last place of the kept s, so a row whose s
// stands clear of the others by more than that can neither be taken in place
// of a near row nor stop one from being taken. The rule is then run over the
// near rows below such a gap, in row order. Where no clear gap exists, or
// values come near the subnormal range, the row is left to the scan.
class RowTree {
public:
    static constexpr std::size_t kLeafRows = 16;
    // Inputs within this magnitude keep every squared distance finite.
    static constexpr double kMaxAbs = 1e100;

    RowTree(const double* rows, std::size_t n, std::size_t d) : rows_(rows), d_(d), order_(n) {
        for (std::size_t i = 0; i < n; ++i) order_[i] = i;
        build(0, n);
        pts_.resize(n * d);
        for (const Node& nd : nodes_) {
            if (nd.left != 0) continue;
            const std::size_t len = nd.end - nd.begin;
            for (std::size_t k = 0; k < len; ++k)
                for (std::size_t c = 0; c < d; ++c)
                    pts_[nd.begin * d + c * len + k] = rows[order_[nd.begin + k] * d + c];
        }
    }

    // True when every value is finite and within kMaxAbs.
    static bool usable(const double* rows, std::size_t len) {
        for (std::size_t k = 0; k < len; ++k)
            if (!(std::fabs(rows[k]) <= kMaxAbs)) return false;
        return true;
    }

    struct Scratch {
        std::vector<Candidate> cand;
        std::vector<std::pair<double, std::uint32_t>> stack;
    };

    // The record of row i, or false when the scan must decide it.
    bool nearest(std::size_t i, Scratch& sc, std::pair<double, std::size_t>& out) const {
        const double* q = rows_ + i * d_;
        double best = std::numeric_limits<double>::infinity();
        sc.cand.clear();
        sc.stack.clear();
        sc.stack.push_back({0.0, 0});
        while (!sc.stack.empty()) {
            const auto [lb, id] = sc.stack.back();
            sc.stack.pop_back();
            if (lb > reach(best)) continue;
            const Node& nd = nodes_[id];
            if (nd.left == 0) {
                // The leaf's distances together: its coordinates are stored
                // column by column.
                const std::size_t len = nd.end - nd.begin;
                const double* p = pts_.data() + nd.begin * d_;
                double s[kLeafRows];
                for (std::size_t k = 0; k < len; ++k) s[k] = 0.0;
                for (std::size_t c = 0; c < d_; ++c) {
                    const double qc = q[c];
                    const double* col = p + c * len;
                    for (std::size_t k = 0; k < len; ++k) {
                        const double diff = qc - col[k];
                        s[k] += diff * diff;
                    }
                }
                for (std::size_t k = 0; k < len; ++k) {
                    const std::size_t j = order_[nd.begin + k];
                    if (j == i) continue;
                    if (s[k] < best) best = s[k];
                    if (s[k] <= reach(best)) sc.cand.push_back({s[k], j});
                }
                continue;
            }
            const double r = reach(best);
            double bl, br;
            bounds(nd.left, nd.right, q, bl, br);
            if (bl <= br) {
                if (br <= r) sc.stack.push_back({br, nd.right});
                if (bl <= r) sc.stack.push_back({bl, nd.left});
            } else {
                if (bl <= r) sc.stack.push_back({bl, nd.left});
                if (br <= r) sc.stack.push_back({br, nd.right});
            }
        }
        // Every row with s <= limit is among the candidates.
        const double limit = reach(best);
        auto& cand = sc.cand;
        std::size_t m = 0;
        for (const Candidate& c : cand)
            if (c.s <= limit) cand[m++] = c;
        cand.resize(m);
        if (m == 0) return false;
        std::sort(cand.begin(), cand.end(), [](const Candidate& a, const Candidate& b) { return a.s < b.s; });
        std::size_t near = 0;
        for (std::size_t k = 0; k < m; ++k) {
            if (k + 1 < m && cand[k + 1].s == cand[k].s) continue;
            const double thr = cand[k].s;
            if (thr != 0.0 && thr < kTiny) return false;
            const double clear = thr * (1.0 + kGap);
            if (k + 1 < m ? cand[k + 1].s > clear && cand[k + 1].s >= kTiny : clear <= limit) {
                near = k + 1;
                break;
            }
        }
        if (near == 0) return false;
        std::sort(cand.begin(), cand.begin() + static_cast<std::ptrdiff_t>(near),
                  [](const Candidate& a, const Candidate& b) { return a.j < b.j; });
        out = scan_rule(cand.data(), near);
        return true;
    }

private:
    // Squared distances within kReach of the least are gathered; kGap is the
    // clearance that a gap needs (far above the rule's rounding); below
    // kTiny squares and roots lose relative precision.
    static constexpr double kReach = 1e-6;
    static constexpr double kGap = 1e-12;
    static constexpr double kTiny = 1e-250;

    struct Node {
        std::size_t begin, end;
        std::uint32_t left = 0, right = 0;  // 0: a leaf
    };

    static double reach(double best) {
        const double r = best * (1.0 + kReach);
        return r > kTiny ? r : kTiny;
    }

    // Lower bounds of the squared distances from q to the rows of nodes a and
    // b: the gap to the box in each coordinate (as q - bound, or its
    // negation, which squares the same), squared and summed in order. The
    // two sums run in the two lanes of one register, without branches.
    void bounds(std::size_t a, std::size_t b, const double* q, double& sa, double& sb) const {
        const double* la = box_.data() + 2 * a * d_;
        const double* ha = la + d_;
        const double* lb = box_.data() + 2 * b * d_;
        const double* hb = lb + d_;
#if defined(__SSE2__)
        const __m128d zero = _mm_setzero_pd();
        __m128d acc = zero;
        for (std::size_t c = 0; c < d_; ++c) {
            const __m128d qc = _mm_set1_pd(q[c]);
            const __m128d below = _mm_sub_pd(_mm_set_pd(lb[c], la[c]), qc);
            const __m128d above = _mm_sub_pd(qc, _mm_set_pd(hb[c], ha[c]));
            const __m128d gap = _mm_max_pd(_mm_max_pd(below, above), zero);
            acc = _mm_add_pd(acc, _mm_mul_pd(gap, gap));
        }
        sa = _mm_cvtsd_f64(acc);
        sb = _mm_cvtsd_f64(_mm_unpackhi_pd(acc, acc));
#else
        double x = 0.0, y = 0.0;
        for (std::size_t c = 0; c < d_; ++c) {
            const double ga = std::max(std::max(la[c] - q[c], q[c] - ha[c]), 0.0);
            const double gb = std::max(std::max(lb[c] - q[c], q[c] - hb[c]), 0.0);
            x += ga * ga;
            y += gb * gb;
        }
        sa = x;
        sb = y;
#endif
    }

    std::uint32_t build(std::size_t b, std::size_t e) {
        const auto id = static_cast<std::uint32_t>(nodes_.size());
        nodes_.push_back({b, e});
        box_.resize(box_.size() + 2 * d_);
        double* lo = box_.data() + 2 * std::size_t{id} * d_;
        double* hi = lo + d_;
        for (std::size_t c = 0; c < d_; ++c) {
            lo[c] = std::numeric_limits<double>::infinity();
            hi[c] = -std::numeric_limits<double>::infinity();
        }
        for (std::size_t k = b; k < e; ++k)
            for (std::size_t c = 0; c < d_; ++c) {
                const double v = rows_[order_[k] * d_ + c];
                lo[c] = std::min(lo[c], v);
                hi[c] = std::max(hi[c], v);
            }
        std::size_t axis = 0;
        double spread = 0.0;
        for (std::size_t c = 0; c < d_; ++c)
            if (hi[c] - lo[c] > spread) spread = hi[c] - lo[c], axis = c;
        if (e - b <= kLeafRows) return id;
        // Split at the middle of the widest side, which keeps boxes square
        // and prunes best; at the median where that would cut off fewer
        // than a sixteenth, which bounds the depth.
        const auto first = order_.begin() + static_cast<std::ptrdiff_t>(b);
        const auto last = order_.begin() + static_cast<std::ptrdiff_t>(e);
        const double middle = lo[axis] + spread * 0.5;
        std::size_t mid = static_cast<std::size_t>(
            std::partition(first, last, [&](std::size_t x) { return rows_[x * d_ + axis] < middle; }) - order_.begin());
        const std::size_t least = (e - b) / 16;
        if (mid - b < least || e - mid < least || mid == b || mid == e) {
            mid = b + (e - b) / 2;
            std::nth_element(first, order_.begin() + static_cast<std::ptrdiff_t>(mid), last,
                             [&](std::size_t x, std::size_t y) {
                                 const double vx = rows_[x * d_ + axis], vy = rows_[y * d_ + axis];
                                 return vx < vy || (vx == vy && x < y);
                             });
        }
        const std::uint32_t l = build(b, mid);
        const std::uint32_t r = build(mid, e);
        nodes_[id].left = l;
        nodes_[id].right = r;
        return id;
    }

    const double* rows_;
    std::size_t d_;
    std::vector<std::size_t> order_;  // rows in leaf order
    std::vector<double> pts_;         // their coordinates, per leaf column by column
    std::vector<double> box_;         // per node: d lower, then d upper bounds
    std::vector<Node> nodes_;
};

}  // namespace

Result<std::size_t, PlainError> embedding_rows(std::size_t t, std::size_t delay, std::size_t dimension) {
    if (dimension == 0) return PlainError::value_error("dimension must be >= 1");
    if (delay == 0) return PlainError::value_error("delay must be >= 1");
    const auto span = checked_mul(dimension - 1, delay);
    if (!span) return capacity_overflow();
    if (t <= *span)
        return PlainError::value_error(text::cat("Signal too short (T=", t, ") for delay=", delay,
                                                 ", dimension=", dimension, ": need T > ", *span));
    return t - *span;
}

void detail::delay_embed_into(std::span<const double> signal, std::size_t delay, std::size_t dimension,
                              std::span<double> out) {
    const std::size_t rows = out.size() / dimension;
    auto fill = [&](std::size_t b, std::size_t e) {
        double* o = out.data() + b * dimension;
        for (std::size_t i = b; i < e; ++i)
            for (std::size_t j = 0; j < dimension; ++j) *o++ = signal[i + j * delay];
    };
    if (out.size() < kParallelValues)
        fill(0, rows);
    else
        pool::for_chunks(rows, kEmbedChunkRows, fill);
}

Result<std::vector<double>, PlainError> delay_embed(std::span<const double> signal, std::size_t delay,
                                                    std::size_t dimension) {
    struct Values {
        std::vector<double> v;
        std::span<double> span() { return v; }
    };
    auto r = delay_embed(signal, delay, dimension, [](std::size_t n) { return Values{std::vector<double>(n)}; });
    if (!r) return std::move(r).error();
    return std::move(r.value().v);
}

Result<std::size_t, PlainError> optimal_delay(std::span<const double> signal, std::size_t max_lag, std::size_t n_bins) {
    const std::size_t lags = std::min(signal.size() / 2, max_lag);
    if (lags < 2 || n_bins == 0) return std::size_t{1};
    const std::vector<std::uint64_t> codes = bin_codes(signal, n_bins);
    if (codes.empty()) return std::size_t{1};
    std::vector<double> mi(lags);
    const bool done = pool::for_chunks_interruptible(lags, 1, true, [&](std::size_t b, std::size_t e) {
        for (std::size_t k = b; k < e; ++k) mi[k] = mutual_information(codes, k, n_bins);
    });
    if (!done) return interrupted_error();
    for (std::size_t k = 1; k + 1 < lags; ++k)
        if (mi[k - 1] > mi[k] && mi[k + 1] > mi[k]) return k;
    return std::size_t{1};
}

Result<std::vector<std::pair<double, std::size_t>>, PlainError> nearest_neighbor_distances(
    std::span<const double> embedded, std::size_t dimension) {
    const std::size_t n = dimension == 0 ? 0 : embedded.size() / dimension;
    std::vector<std::pair<double, std::size_t>> out(n, {std::numeric_limits<double>::infinity(), 0});
    if (n < 2) return out;
    // Column-major copy: the squared distances from one row to a block of
    // candidate rows then read contiguous values.
    std::vector<double> cols(n * dimension);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t c = 0; c < dimension; ++c) cols[c * n + i] = embedded[i * dimension + c];
    auto scan_row = [&](std::size_t i, double* s) {
        double best = std::numeric_limits<double>::infinity();
        std::size_t best_index = 0;
        for (std::size_t jb = 0; jb < n; jb += kBlock) {
            const std::size_t len = std::min(kBlock, n - jb);
            sq_distances(cols.data(), n, dimension, i, jb, len, s);
            // The row itself never counts; and since best only shrinks,
            // a block with nothing below best * best changes nothing.
            if (i >= jb && i < jb + len) s[i - jb] = std::numeric_limits<double>::quiet_NaN();
            if (count_below(s, len, best * best) == 0) continue;
            for (std::size_t j = 0; j < len; ++j) {
                if (s[j] < best * best) {
                    best = std::sqrt(s[j]);
                    best_index = jb + j;
                }
            }
        }
        out[i] = {best, best_index};
    };
    std::optional<RowTree> tree;
    if (n >= kTreeRows && n <= kTreeMaxRows && dimension <= kTreeDims &&
        RowTree::usable(embedded.data(), n * dimension))
        tree.emplace(embedded.data(), n, dimension);
    auto search = [&](std::size_t rb, std::size_t re) {
        std::array<double, kBlock> s;
        RowTree::Scratch sc;
        for (std::size_t i = rb; i < re; ++i)
            if (!tree || !tree->nearest(i, sc, out[i])) scan_row(i, s.data());
    };
    const std::size_t rows_per_task = tree ? kTreeRowsPerTask : kRowsPerTask;
    if (!pool::for_chunks_interruptible(n, rows_per_task, true, search)) return interrupted_error();
    return out;
}

Result<std::size_t, PlainError> optimal_dimension(std::span<const double> signal, std::size_t delay,
                                                  std::size_t max_dim, double rtol, double atol) {
    const std::size_t t_len = signal.size();
    double sigma = std::numeric_limits<double>::quiet_NaN();
    if (t_len == 0) {
        if (max_dim == 0) return std::size_t{0};
    } else {
        const double len = static_cast<double>(t_len);
        double sum = 0.0;
        for (double v : signal) sum += v;
        const double mean = sum / len;
        double sq = 0.0;
        for (double v : signal) sq += (v - mean) * (v - mean);
        const double variance = sq / len;
        if (variance == 0.0) return std::size_t{1};
        sigma = std::sqrt(variance);
        if (max_dim == 0) return std::size_t{0};
    }
    for (std::size_t d = 1;; ++d) {
        // T - d * delay < 2, with d * delay > T (or beyond 64 bits) negative.
        const auto reach = checked_mul(d, delay);
        if (!reach || *reach > t_len || t_len - *reach < 2) return d;
        auto embedded = delay_embed(signal, delay, d);
        if (!embedded) return d;
        auto nn = nearest_neighbor_distances(embedded.value(), d);
        if (!nn) return std::move(nn).error();
        embedded = std::vector<double>{};
        std::size_t count = 0, false_count = 0;
        const auto& records = nn.value();
        for (std::size_t i = 0; i < records.size(); ++i) {
            const auto [r, j] = records[i];
            if (r == 0.0 || r == std::numeric_limits<double>::infinity()) continue;
            if (i + *reach >= t_len || j + *reach >= t_len) continue;
            ++count;
            const double diff = signal[i + *reach] - signal[j + *reach];
            if (std::fabs(diff) / r > rtol || std::sqrt(diff * diff + r * r) / sigma > atol) ++false_count;
        }
        if (count == 0) return d;
        if (static_cast<double>(false_count) / static_cast<double>(count) < 0.01) return d;
        if (d >= max_dim) return max_dim;
    }
}

}  // namespace qel::embedding
