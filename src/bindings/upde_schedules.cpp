// The schedule runners of PyUPDEStepper.
#include "bindings/frame.hpp"
#include "engine/upde.hpp"

namespace qel::py {

using upde::UPDEStepper;

QEL_BINDINGS(upde_schedules) {
    m.extend<UPDEStepper>("PyUPDEStepper")
        .method("run_omega_schedule",
                "run_omega_schedule($self, phases, omega_schedule, knm, zeta, psi, alpha, n_steps)",
                "Run n_steps with one omega vector per outer step.",
                [](UPDEStepper& s, PhasesCopy phases, F64Array omega_schedule, F64ArrayMut knm, double zeta, double psi,
                   F64Array alpha, std::uint64_t n_steps) {
                    return advanced(s.run_omega_schedule(phases.values, omega_schedule.span(), knm.span(), alpha.span(),
                                                         zeta, psi, n_steps),
                                    phases);
                })
        .method("run_doppler_schedule",
                "run_doppler_schedule($self, phases, omega_schedule, knm, zeta, psi, alpha, velocity_schedule, "
                "doppler_strength, doppler_epsilon, n_steps)",
                "Run n_steps with one omega vector and one velocity vector per step.",
                // Array tests run phases, omega_schedule, velocity_schedule, knm, alpha: knm and alpha
                // are finished here, after velocity_schedule.
                [](UPDEStepper& s, PhasesCopy phases, F64Array omega_schedule, Deferred<F64ArrayMut> knm, double zeta,
                   double psi, Deferred<F64Array> alpha, F64Array velocity_schedule, double doppler_strength,
                   double doppler_epsilon, std::uint64_t n_steps) -> Result<NewArray<double>, QelError> {
                    F64ArrayMut k = knm.finish();
                    F64Array a = alpha.finish();
                    return advanced(s.run_doppler_schedule(phases.values, omega_schedule.span(), k.span(), a.span(),
                                                           velocity_schedule.span(), zeta, psi,
                                                           upde::DopplerControls{doppler_strength, doppler_epsilon},
                                                           n_steps),
                                    phases);
                })
        .method("run_moving_frame_schedule",
                "run_moving_frame_schedule($self, phases, positions, omega_schedule, knm, zeta, psi, alpha, "
                "velocity_schedule, spatial_k_base, spatial_decay_form, spatial_decay_exponent, "
                "spatial_decay_length_scale, spatial_epsilon, doppler_strength, doppler_epsilon, n_steps)",
                "Run n_steps with omega, velocity, and axial position schedules.",
                [](UPDEStepper& s, PhasesCopy phases, PositionsCopy positions, F64Array omega_schedule, F64Array knm,
                   double zeta, double psi, F64Array alpha, F64Array velocity_schedule, double spatial_k_base,
                   std::uint8_t spatial_decay_form, double spatial_decay_exponent, double spatial_decay_length_scale,
                   double spatial_epsilon, double doppler_strength, double doppler_epsilon,
                   std::uint64_t n_steps) -> Result<NewArray<double>, QelError> {
                    auto& ph = phases.values;
                    auto& pos = positions.values;
                    auto st =
                        s.run_moving_frame_schedule(ph, pos, omega_schedule.span(), knm.span(), alpha.span(),
                                                    velocity_schedule.span(), zeta, psi,
                                                    upde::AxialDecay{spatial_k_base, spatial_decay_form,
                                                                     spatial_decay_exponent, spatial_decay_length_scale,
                                                                     spatial_epsilon},
                                                    upde::DopplerControls{doppler_strength, doppler_epsilon}, n_steps);
                    // The phases, then the positions, in one array.
                    return and_then(std::move(st), [&] {
                        return NewArray<double>::from(std::span<const double>(ph), std::span<const double>(pos));
                    });
                });
}

}  // namespace qel::py
