#include "engine/chimera.hpp"

#include <atomic>
#include <cmath>
#include <limits>

#include "engine/order_params.hpp"
#include "engine/util/checked.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/pool_stop.hpp"
#include "types/format.hpp"

namespace qel::chimera {

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

// The first phase index that row i reads beyond the end of phases, in the
// order of the loop (theta_j before theta_i); kNone when there is none.
std::size_t first_missing_phase(std::span<const double> phases, const double* row, std::size_t n, std::size_t i) {
    for (std::size_t j = 0; j < n; ++j) {
        if (!(row[j] > 0.0)) continue;
        if (j >= phases.size()) return j;
        if (i >= phases.size()) return i;
    }
    return kNone;
}

void atomic_min(std::atomic<std::size_t>& a, std::size_t v) {
    std::size_t cur = a.load(std::memory_order_relaxed);
    while (v < cur && !a.compare_exchange_weak(cur, v, std::memory_order_relaxed)) {
    }
}

}  // namespace

Result<std::vector<double>, PlainError> local_order_parameter(std::span<const double> phases,
                                                              std::span<const double> knm, std::size_t n) {
    // Every row reads all n couplings: a short knm fails before anything
    // sized by n is allocated.
    auto nn = checked_mul(n, n);
    if (!nn || knm.size() < *nn)
        return InternalError(text::cat("knm has ", knm.size(), " entries, fewer than the n*n that n = ", n, " reads"));
    std::vector<double> local(n, 0.0);
    // Rows that reached a missing phase; the lowest is reported after the loop.
    std::atomic<std::size_t> bad_row{kNone};
    const bool complete = pool::for_chunks_interruptible(n, 1, true, [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i) {
            const double* row = knm.data() + i * n;
            if (i >= phases.size() || phases.size() < n) {
                if (first_missing_phase(phases, row, n, i) != kNone) {
                    atomic_min(bad_row, i);
                    continue;
                }
            }
            order_params::Accumulator acc;
            if (i < phases.size()) {
                const double theta_i = phases[i];
                for (std::size_t j = 0; j < n; ++j)
                    if (row[j] > 0.0) acc.add(phases[j] - theta_i);
            }
            local[i] = acc.magnitude();
        }
    });
    if (!complete) return interrupted_error();
    if (const std::size_t i = bad_row.load(); i != kNone)
        return index_out_of_bounds(phases.size(), first_missing_phase(phases, knm.data() + i * n, n, i));
    return local;
}

Result<Chimera, PlainError> detect_chimera(std::span<const double> phases, std::span<const double> knm, std::size_t n) {
    Chimera out;
    if (n == 0) return out;
    auto local = local_order_parameter(phases, knm, n);
    if (!local) return std::move(local).error();
    out.local_order = std::move(local).value();
    for (std::size_t i = 0; i < n; ++i) {
        const double r = out.local_order[i];
        if (r > kCoherent)
            out.coherent.push_back(i);
        else if (r < kIncoherent)
            out.incoherent.push_back(i);
    }
    const double nf = static_cast<double>(n);
    out.chimera_index =
        ((nf - static_cast<double>(out.coherent.size())) - static_cast<double>(out.incoherent.size())) / nf;
    return out;
}

}  // namespace qel::chimera
