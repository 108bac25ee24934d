#include "engine/ethical.hpp"

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "engine/util/checked.hpp"
#include "engine/util/float_sort.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"

namespace qel::ethical {

namespace {

constexpr double kPivotFloor = 1e-12;
constexpr double kDensityFloor = 1e-15;

// The largest |a_ij| of each row's strict upper part, first maximum kept (a
// NaN entry never compares larger, nor does a 0.0), so that the pivot, the
// first maximum of the whole upper triangle in row-major order, is found in
// O(n): it is the chosen entry of the first row whose maximum is largest.
class PivotRows {
public:
    explicit PivotRows(std::size_t n) : n_(n), mag_(n, 0.0), col_(n, 0) {}

    void rescan(const double* a, std::size_t i) {
        const double* row = a + i * n_;
        double best = 0.0;
        std::size_t at = i + 1;
        for (std::size_t j = i + 1; j < n_; ++j) {
            const double m = std::fabs(row[j]);
            if (m > best) {
                best = m;
                at = j;
            }
        }
        mag_[i] = best;
        col_[i] = at;
    }

    // Largest magnitude, with its position in (p, q).
    double pivot(std::size_t& p, std::size_t& q) const {
        double best = 0.0;
        p = 0;
        q = 1;
        for (std::size_t i = 0; i + 1 < n_; ++i) {
            if (mag_[i] > best) {
                best = mag_[i];
                p = i;
                q = col_[i];
            }
        }
        return best;
    }

    // Entry (i, j), j > i, has changed: the row keeps its first maximum
    // unless that entry held it.
    void changed(const double* a, std::size_t i, std::size_t j) {
        if (col_[i] == j) return rescan(a, i);
        const double m = std::fabs(a[i * n_ + j]);
        if (m > mag_[i] || (m == mag_[i] && m > 0.0 && j < col_[i])) {
            mag_[i] = m;
            col_[i] = j;
        }
    }

private:
    std::size_t n_;
    std::vector<double> mag_;
    std::vector<std::size_t> col_;
};

// One classical Jacobi rotation on the largest upper off-diagonal entry of the
// n x n row-major a; false when that entry is below the floor. O(n) for the
// pivot and the rotation, O(n) more per row whose maximum the rotation
// touched; nothing is allocated.
bool jacobi_step(std::vector<double>& a, std::size_t n, PivotRows& rows) {
    std::size_t p = 0, q = 1;
    if (rows.pivot(p, q) < kPivotFloor) return false;

    double* ap = a.data() + p * n;
    double* aq = a.data() + q * n;
    const double apq = ap[q];
    const double theta = (aq[q] - ap[p]) / (2.0 * apq);
    const double root = std::sqrt(theta * theta + 1.0);
    const double t = theta >= 0.0 ? 1.0 / (theta + root) : -1.0 / (root - theta);
    ap[p] -= t * apq;
    aq[q] += t * apq;
    ap[q] = 0.0;
    aq[p] = 0.0;
    const double c = 1.0 / std::sqrt(t * t + 1.0);
    const double s = t * c;
    // Columns p and q are read, rows p and q mirrored: row r's pair is
    // touched by no other r, so updating in place reads the old values.
    for (std::size_t r = 0; r < n; ++r) {
        if (r == p || r == q) continue;
        double* ar = a.data() + r * n;
        const double arp = ar[p], arq = ar[q];
        const double np = c * arp - s * arq;
        const double nq = s * arp + c * arq;
        ar[p] = np;
        ap[r] = np;
        ar[q] = nq;
        aq[r] = nq;
    }
    // Upper entries that moved: rows p and q whole, and column p or q of
    // every row above them.
    rows.rescan(a.data(), p);
    rows.rescan(a.data(), q);
    for (std::size_t r = 0; r < q; ++r) {
        if (r == p) continue;
        if (r < p) rows.changed(a.data(), r, p);
        rows.changed(a.data(), r, q);
    }
    return true;
}

}  // namespace

Result<double, PlainError> fiedler_value_inline(std::span<const double> knm, std::size_t n) {
    if (n < 2) return 0.0;
    auto nn = buffer_len(n, n);
    if (!nn) return capacity_overflow();
    if (knm.size() < *nn) return range_end_out_of_range(*nn, knm.size());

    std::vector<double> a(*nn);
    for (std::size_t i = 0; i < n; ++i) {
        double* row = a.data() + i * n;
        double degree = 0.0;
        for (std::size_t j = 0; j < n; ++j) {
            const double w = std::fabs(knm[i * n + j]);
            row[j] = -w;
            degree += w;
        }
        row[i] = degree;
    }
    // 100*n^2 passes 64 bits only for matrices far beyond any run: it saturates.
    auto limit = checked_mul(*nn, 100);
    const std::size_t steps = limit ? *limit : std::numeric_limits<std::size_t>::max();
    PivotRows rows(n);
    for (std::size_t i = 0; i < n; ++i) rows.rescan(a.data(), i);
    for (std::size_t step = 0; step < steps; ++step) {
        if (interrupted()) return interrupted_error();
        if (!jacobi_step(a, n, rows)) break;
    }
    std::vector<double> diag(n);
    for (std::size_t i = 0; i < n; ++i) diag[i] = a[i * n + i];
    stable_sort_ascending(diag);
    return diag[1] > 0.0 ? diag[1] : 0.0;
}

Result<EthicalCost, PlainError> compute_ethical_cost(std::span<const double> phases, std::span<const double> knm,
                                                     std::size_t n, const Params& p) {
    if (n == 0) return EthicalCost{0.0, 0.0, 1.0, 0};
    const double nf = static_cast<double>(n);

    // Coherence, not capped at 1: more phases than n can give R > 1.
    double sum_sin = 0.0, sum_cos = 0.0;
    for (double x : phases) {
        sum_sin += std::sin(x);
        sum_cos += std::cos(x);
    }
    const double r = std::sqrt(sum_cos * sum_cos + sum_sin * sum_sin) / nf;

    auto lambda2 = fiedler_value_inline(knm, n);
    if (!lambda2) return std::move(lambda2).error();
    const double l2 = lambda2.value();

    // Spread of the raw values (not circular), n as the divisor.
    double total = 0.0;
    for (double x : phases) total += x;
    const double mean = total / nf;
    double sq = 0.0;
    for (double x : phases) sq += (x - mean) * (x - mean);
    const double sigma = std::sqrt(sq / nf);

    std::size_t present = 0;
    bool any_positive = false;
    double largest = -std::numeric_limits<double>::infinity();
    for (double k : knm) {
        if (std::fabs(k) > kDensityFloor) ++present;
        if (k > 0.0) any_positive = true;
        if (k > largest) largest = k;  // NaN never wins
    }
    // n*(n-1) fits: n >= 2 here only with n*n couplings present.
    const double rho = n == 1 ? 0.0 : static_cast<double>(present) / static_cast<double>(n * (n - 1));

    EthicalCost out;
    out.score = p.alpha_r * r + p.beta_k * (l2 / nf) + p.gamma_q * rho + p.nu_s * (sigma / -std::numbers::pi);
    const double v_k = any_positive ? largest - p.max_coupling : 0.0;
    const double v_l = p.connectivity_min - l2;
    const double v_r = p.r_min - r;
    auto positive = [](double v) { return v > 0.0 ? v : 0.0; };  // NaN counts as 0
    out.violations = (v_k > 0.0) + (v_l > 0.0) + (v_r > 0.0);
    const double pk = positive(v_k), pl = positive(v_l), pr = positive(v_r);
    out.penalty = p.kappa * ((pl * pl + pr * pr) + pk * pk);
    out.cost = (1.0 - out.score) + out.penalty;
    return out;
}

}  // namespace qel::ethical
