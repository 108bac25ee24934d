#include "engine/ei_balance.hpp"

#include <cmath>
#include <limits>

#include "engine/util/checked.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"

namespace qel::ei_balance {

namespace {

constexpr double kStrengthFloor = 1e-15;
constexpr double kRatioTolerance = 1e-10;

// The entries below n, in list order.
std::vector<std::size_t> valid(std::span<const std::uint64_t> list, std::size_t n) {
    std::vector<std::size_t> out;
    for (std::uint64_t r : list)
        if (r < n) out.push_back(r);
    return out;
}

std::vector<std::uint64_t> non_negative(std::span<const std::int64_t> list) {
    std::vector<std::uint64_t> out;
    for (std::int64_t r : list)
        if (r >= 0) out.push_back(static_cast<std::uint64_t>(r));
    return out;
}

// Every row read must lie inside knm: (r+1)*n <= len.
Result<void, PlainError> check_rows(std::span<const std::size_t> rows, std::size_t n, std::size_t len) {
    for (std::size_t r : rows) {
        auto end = checked_mul(r + 1, n);  // r < n, so r + 1 cannot overflow
        if (!end) return capacity_overflow();
        if (*end > len) return range_end_out_of_range(*end, len);
    }
    return {};
}

// Mean of the whole rows listed; 0.0 without a row.
double strength(std::span<const double> knm, std::size_t n, std::span<const std::size_t> rows) {
    double sum = 0.0;
    std::uint64_t count = 0;
    for (std::size_t r : rows) {
        for (std::size_t c = 0; c < n; ++c) sum += knm[r * n + c];
        count += n;
    }
    return count == 0 ? 0.0 : sum / static_cast<double>(count);
}

// Mean of K[r][c] over r of rows (outer) and c of cols (inner), pairs counted.
Result<double, PlainError> block_mean(std::span<const double> knm, std::size_t n, std::span<const std::size_t> rows,
                                      std::span<const std::size_t> cols) {
    double sum = 0.0;
    std::uint64_t count = 0;
    for (std::size_t r : rows) {
        if (interrupted()) return interrupted_error();  // long lists make this |rows| * |cols|
        const double* row = knm.data() + r * n;
        for (std::size_t c : cols) sum += row[c];
        count += cols.size();
    }
    return count == 0 ? 0.0 : sum / static_cast<double>(count);
}

}  // namespace

Result<EIBalance, PlainError> compute_ei_balance(std::span<const double> knm, std::size_t n,
                                                 std::span<const std::uint64_t> excitatory,
                                                 std::span<const std::uint64_t> inhibitory) {
    const std::vector<std::size_t> exc = valid(excitatory, n), inh = valid(inhibitory, n);
    if (auto ok = check_rows(exc, n, knm.size()); !ok) return std::move(ok).error();
    if (auto ok = check_rows(inh, n, knm.size()); !ok) return std::move(ok).error();

    EIBalance b;
    b.excitatory_strength = strength(knm, n, exc);
    b.inhibitory_strength = strength(knm, n, inh);
    if (kStrengthFloor > std::fabs(b.inhibitory_strength))
        b.ratio = b.excitatory_strength > 0.0 ? std::numeric_limits<double>::infinity() : 1.0;
    else
        b.ratio = b.excitatory_strength / b.inhibitory_strength;
    double* means[4] = {&b.mean_ee, &b.mean_ei, &b.mean_ie, &b.mean_ii};
    const std::vector<std::size_t>* lists[2] = {&exc, &inh};
    for (int k = 0; k < 4; ++k) {
        auto m = block_mean(knm, n, *lists[k / 2], *lists[k % 2]);
        if (!m) return std::move(m).error();
        *means[k] = m.value();
    }
    b.is_balanced = 0.8 <= b.ratio && b.ratio <= 1.2;
    return b;
}

Result<EIBalance, PlainError> compute_ei_balance_signed(std::span<const double> knm, std::size_t n,
                                                        std::span<const std::int64_t> excitatory,
                                                        std::span<const std::int64_t> inhibitory) {
    return compute_ei_balance(knm, n, non_negative(excitatory), non_negative(inhibitory));
}

Result<std::vector<double>, PlainError> adjust_ei_ratio(std::span<const double> knm, std::size_t n,
                                                        std::span<const std::int64_t> excitatory,
                                                        std::span<const std::int64_t> inhibitory, double target_ratio) {
    const std::vector<std::uint64_t> inh = non_negative(inhibitory);
    auto balance = compute_ei_balance(knm, n, non_negative(excitatory), inh);
    if (!balance) return std::move(balance).error();
    const EIBalance& b = balance.value();
    std::vector<double> out(knm.begin(), knm.end());
    if (kStrengthFloor > std::fabs(b.inhibitory_strength) || kStrengthFloor > std::fabs(b.excitatory_strength) ||
        kRatioTolerance > std::fabs(b.ratio - target_ratio))
        return out;
    const double scale = b.ratio / target_ratio;
    for (std::size_t r : valid(inh, n))
        for (std::size_t c = 0; c < n; ++c) out[r * n + c] *= scale;
    return out;
}

}  // namespace qel::ei_balance
