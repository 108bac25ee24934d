#include "engine/reduction.hpp"

#include <array>
#include <cmath>

#include "engine/util/integrators.hpp"
#include "engine/util/internal_errors.hpp"
#include "engine/util/interrupt.hpp"
#include "engine/util/stable_select.hpp"

namespace qel::reduction {

namespace {
// Steps between two looks at an interrupt request: a few milliseconds.
constexpr std::uint64_t kInterruptEvery = std::uint64_t{1} << 16;
}  // namespace

Result<OaState, PlainError> oa_run(double z_re, double z_im, double omega_0, double delta, double k_coupling, double dt,
                                   std::uint64_t n_steps) {
    const double half_k = k_coupling * 0.5;
    auto rhs = [&](std::span<const double> z, std::span<double> out) {
        const double x = z[0], y = z[1];
        const double s = (1.0 - (x * x + y * y)) * half_k;
        out[0] = s * x + (y * omega_0 - x * delta);
        out[1] = s * y + (y * (-delta) - x * omega_0);
    };
    std::array<double, 2> z{z_re, z_im}, k1{}, k2{}, k3{}, k4{}, stage{};
    const integrators::Rk4Buffers buffers{k1, k2, k3, k4, stage};
    for (std::uint64_t step = 0; step < n_steps; ++step) {
        if (step % kInterruptEvery == kInterruptEvery - 1 && interrupted()) return interrupted_error();
        integrators::rk4_substep(rhs, z, buffers, dt);
    }
    const double x = z[0], y = z[1];
    return OaState{x, y, std::sqrt(y * y + x * x), std::atan2(y, x)};
}

LorentzianFit fit_lorentzian(std::span<const double> omegas) {
    const std::size_t n = omegas.size();
    if (n == 0) return {0.0, 0.01};
    // Positions in the sorted sample: first quartile, the two middle ones, third quartile.
    const std::size_t mid = n / 2;
    const std::array<std::size_t, 4> at{n / 4, mid == 0 ? 0 : mid - 1, mid, (3 * n) / 4};
    std::array<double, 4> x{};
    select_sorted_positions(omegas, at, x);
    const double median = n % 2 == 1 ? x[2] : (x[1] + x[2]) * 0.5;
    const double q1 = x[0], q3 = x[3];
    return {median, q1 < q3 ? (q3 - q1) * 0.5 : 0.01};
}

Result<double, PlainError> steady_state_r_oa(double delta, double k_coupling) {
    if (!std::isfinite(delta) || !std::isfinite(k_coupling))
        return PlainError::value_error("delta and k_coupling must be finite");
    if (delta < 0.0) return 0.0;
    const double two_delta = delta + delta;
    if (two_delta >= k_coupling) return 0.0;
    return std::sqrt(1.0 - two_delta / k_coupling);
}

}  // namespace qel::reduction
