#include "engine/opt_entropy.hpp"

#include <cmath>

#include "engine/util/checked.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"
#include "engine/util/pool_stop.hpp"

namespace qel::opt_entropy {

namespace {

constexpr std::size_t kBlockWork = std::size_t{1} << 16;

// Scratch of one window: values, and the sorting permutation with its helpers.
struct Scratch {
    explicit Scratch(std::size_t d) : v(d), rank(d), perm(d), taken(d) {}
    std::vector<double> v;
    std::vector<std::size_t> rank, perm;
    std::vector<unsigned char> taken;
};

// The sorting permutation by repeated selection of the smallest free value,
// the earliest position winning ties; a NaN never displaces a candidate, so
// it is taken when it is the first free position.
void select_order(std::size_t d, const double* v, std::size_t* perm, unsigned char* taken) {
    for (std::size_t k = 0; k < d; ++k) taken[k] = 0;
    for (std::size_t s = 0; s < d; ++s) {
        std::size_t cand = d;
        for (std::size_t k = 0; k < d; ++k) {
            if (taken[k]) continue;
            if (cand == d || v[k] < v[cand]) cand = k;
        }
        perm[s] = cand;
        taken[cand] = 1;
    }
}

// The code of the window at x (D the dimension when known at compile time,
// else 0 and d it). Without NaN the selection above is a stable sort, so
// each position's slot is its stable rank: the number of smaller values and
// of equal values before it, counted without branches.
template <std::size_t D>
std::uint64_t window_code(const double* x, std::size_t delay, std::size_t dim, const std::uint64_t* f, Scratch& sc) {
    const std::size_t d = D != 0 ? D : dim;
    double* v = sc.v.data();
    std::size_t* rank = sc.rank.data();
    std::size_t* perm = sc.perm.data();
    bool nan = false;
    for (std::size_t k = 0; k < d; ++k) {
        v[k] = x[k * delay];
        nan |= std::isnan(v[k]);
    }
    if (nan) {
        select_order(d, v, perm, sc.taken.data());
    } else {
        for (std::size_t k = 0; k < d; ++k) {
            std::size_t r = 0;
            for (std::size_t j = 0; j < d; ++j) r += (v[j] < v[k]) | ((j < k) & (v[j] == v[k]));
            rank[k] = r;
        }
        for (std::size_t k = 0; k < d; ++k) perm[rank[k]] = k;
    }
    std::uint64_t code = 0;
    for (std::size_t i = 0; i < d; ++i) {
        std::uint64_t c = 0;
        for (std::size_t j = i + 1; j < d; ++j) c += perm[j] < perm[i];
        code += c * f[d - 1 - i];
    }
    return code;
}

// Windows are coded in blocks of about kBlockWork comparisons on the pool,
// each block with its own scratch writing only its own codes; Ctrl-C is
// looked at between blocks.
template <std::size_t D>
bool fill_codes(std::span<const double> series, std::size_t dim, std::size_t delay, const std::uint64_t* f,
                std::vector<std::int64_t>& out) {
    const std::size_t per_block = dim >= 1024 ? 1 : kBlockWork / (dim * dim) + 1;
    return pool::for_chunks_interruptible(out.size(), per_block, true, [&](std::size_t b, std::size_t e) {
        Scratch sc(dim);
        for (std::size_t t = b; t < e; ++t)
            out[t] = static_cast<std::int64_t>(window_code<D>(series.data() + t, delay, dim, f, sc));
    });
}

}  // namespace

std::size_t window_count(std::size_t len, std::size_t dimension, std::size_t delay) {
    if (dimension == 0) return delay == 0 ? len : 0;
    const auto span = checked_mul(dimension - 1, delay);
    return span && len > *span ? len - *span : 0;
}

Result<std::vector<std::int64_t>, PlainError> ordinal_pattern_sequence(std::span<const double> series,
                                                                       std::size_t dimension, std::size_t delay) {
    std::vector<std::int64_t> codes(window_count(series.size(), dimension, delay), 0);
    // One value per window, or delay 0 (every position holds the same
    // value): the identity permutation, code 0.
    if (codes.empty() || dimension <= 1 || delay == 0) return codes;

    // Here dimension <= len, so the scratch is bounded by the series.
    std::vector<std::uint64_t> f(dimension);
    f[0] = 1;
    for (std::size_t k = 1; k < dimension; ++k) f[k] = f[k - 1] * k;
    bool done;
    switch (dimension) {
        case 2: done = fill_codes<2>(series, dimension, delay, f.data(), codes); break;
        case 3: done = fill_codes<3>(series, dimension, delay, f.data(), codes); break;
        case 4: done = fill_codes<4>(series, dimension, delay, f.data(), codes); break;
        case 5: done = fill_codes<5>(series, dimension, delay, f.data(), codes); break;
        case 6: done = fill_codes<6>(series, dimension, delay, f.data(), codes); break;
        case 7: done = fill_codes<7>(series, dimension, delay, f.data(), codes); break;
        default: done = fill_codes<0>(series, dimension, delay, f.data(), codes); break;
    }
    if (!done) return interrupted_error();
    return codes;
}

}  // namespace qel::opt_entropy
