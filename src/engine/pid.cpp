#include "engine/pid.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "engine/util/checked.hpp"
#include "engine/util/code_count.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"
#include "engine/util/mutual_information.hpp"
#include "engine/util/phase_bins.hpp"
#include "engine/util/saturate.hpp"
#include "engine/util/wrap.hpp"

namespace qel::pid {

namespace {

namespace cc = code_count;
using Codes = std::vector<std::uint64_t>;

// Trigonometric evaluations between two looks at Ctrl-C.
constexpr std::size_t kCheckEvery = std::size_t{1} << 16;

// Oscillator numbers of a group, in order; anything outside 0 .. n-1 is
// dropped rather than read from another step or past the end.
std::vector<std::size_t> members(std::span<const std::int64_t> group, std::size_t n) {
    std::vector<std::size_t> out;
    for (std::int64_t g : group)
        if (g >= 0 && static_cast<std::uint64_t>(g) < n) out.push_back(static_cast<std::size_t>(g));
    return out;
}

// The bin of the circular mean of `count` phases whose sines and cosines sum to s and c.
std::uint64_t bin_of(double s, double c, double count, double width, std::uint64_t n_bins) {
    return bin_index(wrap_phase(std::atan2(s / count, c / count)), width, n_bins);
}

// Counts of one code series, looked up by code.
class Marginal {
public:
    Marginal(const Codes& codes, std::uint64_t n_bins)
        : cells_(cc::count<1>({std::span<const std::uint64_t>(codes)}, {n_bins})) {}
    const std::vector<cc::Cell<1>>& cells() const { return cells_; }
    double operator()(std::uint64_t code) const {
        auto it = std::lower_bound(cells_.begin(), cells_.end(), code,
                                   [](const cc::Cell<1>& c, std::uint64_t v) { return c.key[0] < v; });
        return it != cells_.end() && it->key[0] == code ? static_cast<double>(it->count) : 0.0;
    }

private:
    std::vector<cc::Cell<1>> cells_;
};

std::vector<cc::Cell<2>> joint(const Codes& first, const Codes& second, std::uint64_t n_bins) {
    return cc::count<2>({std::span<const std::uint64_t>(first), std::span<const std::uint64_t>(second)},
                        {n_bins, n_bins});
}

// Below zero, and NaN, become 0.0.
double clamp_low(double x) { return x > 0.0 ? x : 0.0; }

// I(X; T) from the joint cells of (x, T), in the dense table's order.
double mutual_information(const std::vector<cc::Cell<2>>& xt, const Marginal& cx, const Marginal& ct, double t) {
    auto cells = [&](auto visit) {
        for (const auto& cell : xt) visit(cell.key[0], cell.key[1], cell.count);
    };
    return clamp_low(mutual_information_sum(cells, cx, ct, [t](double c) { return c / t; }));
}

// I(AB; T): the cells of (a, b, T) come grouped by (a, b), whose count is
// the sum over its group.
double joint_mutual_information(const std::vector<cc::Cell<3>>& abt, const Marginal& ct, double t) {
    double sum = 0.0;
    for (std::size_t g = 0; g < abt.size();) {
        std::size_t end = g;
        std::uint64_t c_ab = 0;
        for (; end < abt.size() && abt[end].key[0] == abt[g].key[0] && abt[end].key[1] == abt[g].key[1]; ++end)
            c_ab += abt[end].count;
        const double p_ab = static_cast<double>(c_ab) / t;
        for (; g < end; ++g) {
            const double pj = static_cast<double>(abt[g].count) / t;
            sum += pj * std::log(pj / ((ct(abt[g].key[2]) / t) * p_ab));
        }
    }
    return clamp_low(sum);
}

// Specific information I(T = target; X) from the cells of (T, x) starting at
// `at`, which moves past them.
double specific_information(const std::vector<cc::Cell<2>>& tx, std::size_t& at, std::uint64_t target, double c_t,
                            double p_t, const Marginal& cx) {
    double sum = 0.0;
    for (; at < tx.size() && tx[at].key[0] == target; ++at) {
        const double c = static_cast<double>(tx[at].count);
        sum += (c / c_t) * std::log((c / cx(tx[at].key[1])) / p_t);
    }
    return sum;
}

}  // namespace

Result<std::pair<double, double>, PlainError> pid_decomposition(std::span<const double> phase_history, std::size_t t,
                                                                std::size_t n, std::span<const std::int64_t> group_a,
                                                                std::span<const std::int64_t> group_b,
                                                                std::size_t n_bins) {
    const std::vector<std::size_t> A = members(group_a, n), B = members(group_b, n);
    if (A.empty() || t == 0 || n == 0 || B.empty() || n_bins == 0) return std::pair{0.0, 0.0};
    const auto needed = checked_mul(t, n);
    if (!needed || *needed > phase_history.size())
        return index_out_of_bounds(phase_history.size(), phase_history.size());

    // Codes per step: T (whole network), A and B.
    const double width = kTwoPi / static_cast<double>(n_bins);
    Codes ct(t), ca(t), cb(t);
    std::vector<double> sn(n), cs(n);
    const std::size_t work = n + A.size() + B.size();
    std::size_t since_check = 0;
    for (std::size_t s = 0; s < t; ++s) {
        if ((since_check += work) >= kCheckEvery) {
            since_check = 0;
            if (interrupted()) return interrupted_error();
        }
        const double* row = phase_history.data() + s * n;
        double S = 0.0, C = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            sn[i] = std::sin(row[i]);
            cs[i] = std::cos(row[i]);
            S += sn[i];
            C += cs[i];
        }
        ct[s] = bin_of(S, C, static_cast<double>(n), width, n_bins);
        auto group_bin = [&](const std::vector<std::size_t>& g) {
            double gs = 0.0, gc = 0.0;
            for (std::size_t i : g) {
                gs += sn[i];
                gc += cs[i];
            }
            return bin_of(gs, gc, static_cast<double>(g.size()), width, n_bins);
        };
        ca[s] = group_bin(A);
        cb[s] = group_bin(B);
    }

    // Only the cells the steps occupy are counted, in the dense tables' order.
    const double tf = static_cast<double>(t);
    const Marginal m_t(ct, n_bins), m_a(ca, n_bins), m_b(cb, n_bins);
    const double i_ta = mutual_information(joint(ca, ct, n_bins), m_a, m_t, tf);
    const double i_tb = mutual_information(joint(cb, ct, n_bins), m_b, m_t, tf);
    const auto abt = cc::count<3>({std::span<const std::uint64_t>(ca), std::span<const std::uint64_t>(cb),
                                   std::span<const std::uint64_t>(ct)},
                                  {n_bins, n_bins, n_bins});
    const double i_tab = joint_mutual_information(abt, m_t, tf);

    const auto ta = joint(ct, ca, n_bins), tb = joint(ct, cb, n_bins);
    double red = 0.0;
    std::size_t at_a = 0, at_b = 0;
    for (const auto& cell : m_t.cells()) {
        const double c_t = static_cast<double>(cell.count);
        const double p_t = c_t / tf;
        const double spec_a = specific_information(ta, at_a, cell.key[0], c_t, p_t, m_a);
        const double spec_b = specific_information(tb, at_b, cell.key[0], c_t, p_t, m_b);
        red += p_t * std::fmin(spec_a, spec_b);  // fmin takes the other when one is NaN
    }
    red = clamp_low(red);
    const double syn = clamp_low(i_tab - i_ta - i_tb + red);
    return std::pair{red, syn};
}

}  // namespace qel::pid
