// Frequency, Doppler and moving-frame schedules of the dense stepper. Every
// scheduled step is one call of UPDEStepper::step, with its checks, on this
// stepper's state.
#include <cmath>
#include <vector>

#include "engine/coupling/spatial_modulator.hpp"
#include "engine/upde.hpp"
#include "engine/util/checked.hpp"
#include "engine/util/finite.hpp"
#include "types/format.hpp"

namespace qel::upde {

namespace {

bool finite_positive(double v) { return std::isfinite(v) && v > 0.0; }

// Length n*n; a square that overflows matches no length.
bool is_square_of(std::size_t len, std::size_t n) {
    auto nn = checked_mul(n, n);
    return nn && *nn == len;
}

}  // namespace

Status compute_doppler_term(std::span<double> out, std::span<const double> v, std::span<const double> knm,
                            std::size_t n, double strength, double epsilon) {
    if (v.size() != n || out.size() != n || !is_square_of(knm.size(), n))
        return QelError::invalid_dimension("malformed Doppler inputs");
    if (!all_finite_serial(v) || !all_finite_serial(knm))
        return QelError::integration_diverged("Doppler velocities/knm contain NaN/Inf");
    for (std::size_t i = 0; i < n; ++i) {
        const double c = std::fabs(v[i]) + epsilon;
        const double* row = knm.data() + i * n;
        double w_sum = 0.0, s = 0.0;
        for (std::size_t j = 0; j < n; ++j) {
            if (j == i || row[j] == 0.0) continue;
            const double w = std::fabs(row[j]);
            w_sum = w_sum + w;
            s = s + ((v[i] - v[j]) * w) / c;
        }
        out[i] = w_sum > 0.0 ? (s * strength) / w_sum : 0.0;
    }
    return {};
}

Status UPDEStepper::run_omega_schedule(std::span<double> phases, std::span<const double> omega_schedule,
                                       std::span<double> knm, std::span<const double> alpha, double zeta, double psi,
                                       std::uint64_t n_steps) {
    const std::size_t n = n_;
    auto total = checked_mul(n_steps, n);
    if (!total) return QelError::invalid_dimension("omega schedule is too large");
    if (omega_schedule.size() != *total)
        return QelError::invalid_dimension(
            text::cat("expected omega_schedule length ", *total, ", got ", omega_schedule.size()));
    std::optional<CouplingScan> scan;
    return run_steps(n_steps, [&](std::uint64_t s) {
        return step(phases, omega_schedule.subspan(s * n, n), knm, zeta, psi, alpha, &scan);
    });
}

Status UPDEStepper::run_doppler_schedule(std::span<double> phases, std::span<const double> omega_schedule,
                                         std::span<double> knm, std::span<const double> alpha,
                                         std::span<const double> velocity_schedule, double zeta, double psi,
                                         const DopplerControls& doppler, std::uint64_t n_steps) {
    if (!std::isfinite(doppler.strength) || !finite_positive(doppler.epsilon))
        return QelError::integration_diverged("invalid Doppler strength or epsilon");
    const std::size_t n = n_;
    auto total = checked_mul(n_steps, n);
    if (!total) return QelError::invalid_dimension("Doppler schedule is too large");
    if (omega_schedule.size() != *total || velocity_schedule.size() != *total)
        return QelError::invalid_dimension(text::cat("expected Doppler schedule length ", *total, ", got omega=",
                                                     omega_schedule.size(), " velocity=", velocity_schedule.size()));
    std::vector<double> shift(n, 0.0), omega_eff(n, 0.0);
    std::optional<CouplingScan> scan;
    return run_steps(n_steps, [&](std::uint64_t s) {
        // The coupling as left by the previous step's plasticity.
        auto st =
            compute_doppler_term(shift, velocity_schedule.subspan(s * n, n), knm, n, doppler.strength, doppler.epsilon);
        if (!st) return st;
        const double* row = omega_schedule.data() + s * n;
        for (std::size_t i = 0; i < n; ++i) omega_eff[i] = row[i] + shift[i];
        return step(phases, omega_eff, knm, zeta, psi, alpha, &scan);
    });
}

Status UPDEStepper::run_moving_frame_schedule(std::span<double> phases, std::span<double> positions,
                                              std::span<const double> omega_schedule, std::span<const double> knm,
                                              std::span<const double> alpha, std::span<const double> velocity_schedule,
                                              double zeta, double psi, const AxialDecay& decay,
                                              const DopplerControls& doppler, std::uint64_t n_steps) {
    const std::size_t n = n_;
    if (positions.size() != n || phases.size() != n)
        return QelError::invalid_dimension("moving-frame phases/positions shape mismatch");
    if (!is_square_of(knm.size(), n) || !is_square_of(alpha.size(), n))
        return QelError::invalid_dimension("moving-frame knm/alpha shape mismatch");
    if (!std::isfinite(decay.k_base) || decay.k_base < 0.0 || !finite_positive(decay.exponent) ||
        !finite_positive(decay.length_scale) || !finite_positive(decay.epsilon) || !finite_positive(doppler.epsilon) ||
        !std::isfinite(doppler.strength))
        return QelError::integration_diverged("invalid moving-frame controls");
    auto total = checked_mul(n_steps, n);
    if (!total) return QelError::invalid_dimension("moving-frame schedule is too large");
    if (omega_schedule.size() != *total || velocity_schedule.size() != *total)
        return QelError::invalid_dimension(text::cat("expected moving-frame schedule length ", *total, ", got omega=",
                                                     omega_schedule.size(), " velocity=", velocity_schedule.size()));
    if (!all_finite_serial(positions) || !all_finite_serial(knm))
        return QelError::integration_diverged("moving-frame positions/knm contain NaN/Inf");

    std::vector<double> k_eff(alpha.size(), 0.0), shift(n, 0.0), omega_eff(n, 0.0);
    const double dt = core_.config().dt;
    return run_steps(n_steps, [&](std::uint64_t s) {
        // Rebuilt from the caller's knm every step, so plasticity on k_eff
        // never carries over and knm is never written.
        auto st =
            coupling::spatial_modulator::spatial_modulate_axial(positions, knm, k_eff, n, decay.k_base, decay.form,
                                                                decay.exponent, decay.length_scale, decay.epsilon);
        if (!st) return st;
        std::span<const double> v = velocity_schedule.subspan(s * n, n);
        st = compute_doppler_term(shift, v, k_eff, n, doppler.strength, doppler.epsilon);
        if (!st) return st;
        const double* row = omega_schedule.data() + s * n;
        for (std::size_t i = 0; i < n; ++i) omega_eff[i] = row[i] + shift[i];
        st = step(phases, omega_eff, k_eff, zeta, psi, alpha);
        if (!st) return st;
        // The configured dt, whatever the method's actual step length.
        for (std::size_t i = 0; i < n; ++i) positions[i] = v[i] * dt + positions[i];
        return st;
    });
}

}  // namespace qel::upde
