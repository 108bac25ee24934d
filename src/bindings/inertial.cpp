// PyInertialStepper, inertial_step_rust and inertial_run_rust.
#include "bindings/frame.hpp"
#include "engine/inertial.hpp"

namespace qel::py {
namespace {

using inertial::InertialStepper;

}  // namespace

template <>
struct TupleFields<inertial::StepResult> {
    using R = inertial::StepResult;
    static constexpr auto fields = std::tuple{as_array(&R::theta), as_array(&R::omega_dot)};
};
template <>
struct TupleFields<inertial::RunResult> {
    using R = inertial::RunResult;
    static constexpr auto fields = std::tuple{as_array(&R::theta), as_array(&R::omega_dot),
                                              as_array(&R::theta_trajectory), as_array(&R::omega_dot_trajectory)};
};

QEL_BINDINGS(inertial) {
    m.cls<InertialStepper>("PyInertialStepper", "PyInertialStepper(n, dt=0.01)", "",
                           [](std::uint64_t n, double dt) { return InertialStepper::create(n, kit::dt_config(dt)); })
        .method("step", "step($self, theta, omega_dot, power, knm, inertia, damping)", "",
                [](InertialStepper& s, CopiedF64<"theta not contiguous"> theta,
                   CopiedF64<"omega_dot not contiguous"> omega_dot, F64Array power, F64Array knm, F64Array inertia,
                   F64Array damping) {
                    return advanced(s.step(theta.values, omega_dot.values,
                                           {power.span(), knm.span(), inertia.span(), damping.span()}),
                                    theta, omega_dot);
                });
    m.function("inertial_step_rust", "inertial_step_rust(theta, omega_dot, power, knm_flat, inertia, damping, n, dt)",
               "",
               [](F64Array theta, F64Array omega_dot, F64Array power, F64Array knm, F64Array inertia, F64Array damping,
                  std::uint64_t n, double dt) {
                   return inertial::inertial_step(theta.span(), omega_dot.span(),
                                                  {power.span(), knm.span(), inertia.span(), damping.span()}, n, dt);
               });
    m.function("inertial_run_rust",
               "inertial_run_rust(theta, omega_dot, power, knm_flat, inertia, damping, n, dt, n_steps)", "",
               [](F64Array theta, F64Array omega_dot, F64Array power, F64Array knm, F64Array inertia, F64Array damping,
                  std::uint64_t n, double dt, std::uint64_t n_steps) {
                   return inertial::inertial_run(theta.span(), omega_dot.span(),
                                                 {power.span(), knm.span(), inertia.span(), damping.span()}, n, dt,
                                                 n_steps);
               });
}

}  // namespace qel::py
