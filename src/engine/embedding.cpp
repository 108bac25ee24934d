#include "engine/embedding.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "engine/util/checked.hpp"
#include "engine/util/code_count.hpp"
#include "engine/util/count_below.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/mutual_information.hpp"
#include "engine/util/phase_bins.hpp"
#include "engine/util/pool_waves.hpp"
#include "engine/util/saturate.hpp"
#include "engine/util/sq_dist.hpp"
#include "types/format.hpp"

namespace qel::embedding {

namespace {

// Embeddings at least this large are filled on the pool (a plain copy: the
// split cannot change a value).
constexpr std::size_t kParallelValues = std::size_t{1} << 16;
constexpr std::size_t kEmbedChunkRows = 8192;
constexpr std::size_t kSamplesPerWave = std::size_t{1} << 23;
constexpr std::size_t kInterleavedCells = std::size_t{1} << 14;

// Neighbour search: rows per pool task, tasks per interruptible wave, and
// candidate rows whose squared distances are formed together.
constexpr std::size_t kRowsPerTask = 8;
constexpr std::size_t kTasksPerWave = 256;
constexpr std::size_t kBlock = 512;

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

Result<std::size_t, PlainError> optimal_delay(std::span<const double> signal, std::size_t max_lag,
                                              std::size_t n_bins) {
    const std::size_t lags = std::min(signal.size() / 2, max_lag);
    if (lags < 2 || n_bins == 0) return std::size_t{1};
    const std::vector<std::uint64_t> codes = bin_codes(signal, n_bins);
    if (codes.empty()) return std::size_t{1};
    std::vector<double> mi(lags);
    // Waves of about kSamplesPerWave samples between interrupt checks.
    const std::size_t wave = std::max<std::size_t>(1, kSamplesPerWave / signal.size());
    const bool done = pool::for_chunks_interruptible(lags, 1, wave, true,
                                                     [&](std::size_t b, std::size_t e) {
                                                         for (std::size_t k = b; k < e; ++k)
                                                             mi[k] = mutual_information(codes, k, n_bins);
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
    auto search = [&](std::size_t rb, std::size_t re) {
        std::array<double, kBlock> s;
        for (std::size_t i = rb; i < re; ++i) {
            double best = std::numeric_limits<double>::infinity();
            std::size_t best_index = 0;
            for (std::size_t jb = 0; jb < n; jb += kBlock) {
                const std::size_t len = std::min(kBlock, n - jb);
                sq_distances(cols.data(), n, dimension, i, jb, len, s.data());
                // The row itself never counts; and since best only shrinks,
                // a block with nothing below best * best changes nothing.
                if (i >= jb && i < jb + len) s[i - jb] = std::numeric_limits<double>::quiet_NaN();
                if (count_below(s.data(), len, best * best) == 0) continue;
                for (std::size_t j = 0; j < len; ++j) {
                    if (s[j] < best * best) {
                        best = std::sqrt(s[j]);
                        best_index = jb + j;
                    }
                }
            }
            out[i] = {best, best_index};
        }
    };
    if (!pool::for_chunks_interruptible(n, kRowsPerTask, kTasksPerWave, true, search)) return interrupted_error();
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
