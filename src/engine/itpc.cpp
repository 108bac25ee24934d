#include "engine/itpc.hpp"

#include "engine/util/checked.hpp"
#include "engine/util/internal_errors.hpp"

namespace qel::itpc {

Result<void, PlainError> check_matrix(std::size_t len, std::size_t n_trials, std::size_t n_timepoints) {
    auto need = checked_mul(n_trials, n_timepoints);
    if (need && *need <= len) return {};
    // The last trial reaches the end first from time point len - (N-1)*T on;
    // before that, time point 0 of the first trial row that starts past it.
    const std::size_t T = n_timepoints;
    auto last_row = checked_mul(n_trials - 1, T);
    if (last_row && *last_row <= len) return index_out_of_bounds(len, len);
    return index_out_of_bounds(len, (len / T + (len % T != 0)) * T);
}

Result<std::vector<double>, PlainError> compute_itpc(std::span<const double> phases, std::size_t n_trials,
                                                     std::size_t n_timepoints) {
    const std::size_t T = n_timepoints;
    if (n_trials == 0 || T == 0) return std::vector<double>{};
    if (n_trials == 1) {
        if (!buffer_len(T)) return capacity_overflow();
        return std::vector<double>(T, 1.0);
    }
    if (auto ok = check_matrix(phases.size(), n_trials, T); !ok) return std::move(ok).error();
    std::vector<double> c(T), s(T);
    if (!phasor_sums(
            phases, n_trials, T, [](double p) { return p; }, c, s))
        return interrupted_error();
    const double inv = 1.0 / static_cast<double>(n_trials);
    for (std::size_t t = 0; t < T; ++t) {
        const double ms = s[t] * inv, mc = c[t] * inv;
        c[t] = std::sqrt(ms * ms + mc * mc);
    }
    return c;
}

Result<double, PlainError> itpc_persistence(std::span<const double> phases, std::size_t n_trials,
                                            std::size_t n_timepoints, std::span<const std::int64_t> pause_indices) {
    bool any = false;
    for (std::int64_t i : pause_indices) any = any || i >= 0;
    if (!any || n_trials == 0 || n_timepoints == 0) return 0.0;
    auto course = compute_itpc(phases, n_trials, n_timepoints);
    if (!course) return std::move(course).error();
    const std::vector<double>& itpc = course.value();
    double sum = 0.0;
    std::size_t count = 0;
    for (std::int64_t i : pause_indices) {
        if (i < 0 || static_cast<std::uint64_t>(i) >= n_timepoints) continue;
        sum += itpc[static_cast<std::size_t>(i)];
        ++count;
    }
    return count == 0 ? 0.0 : sum / static_cast<double>(count);
}

}  // namespace qel::itpc
