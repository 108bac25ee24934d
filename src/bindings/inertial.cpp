// PyInertialStepper, inertial_step_rust and inertial_run_rust.
#include "bindings/frame.hpp"
#include "engine/inertial.hpp"

namespace qel::py {
namespace {

using inertial::InertialStepper;

using Pair = std::tuple<NewArray<double>, NewArray<double>>;

}  // namespace

QEL_BINDINGS(inertial) {
    m.cls<InertialStepper>("PyInertialStepper", "PyInertialStepper(n, dt=0.01)", "",
                           [](std::uint64_t n, double dt) { return InertialStepper::create(n, kit::dt_config(dt)); })
        .method("step", "step($self, theta, omega_dot, power, knm, inertia, damping)", "",
                [](InertialStepper& s, CopiedF64<"theta not contiguous"> theta, CopiedF64<"omega_dot not contiguous"> omega_dot, F64Array power,
                   F64Array knm, F64Array inertia, F64Array damping) -> Result<Pair, QelError> {
                    auto st = s.step(theta.values, omega_dot.values,
                                     {power.span(), knm.span(), inertia.span(), damping.span()});
                    if (!st) return std::move(st).error();
                    return Pair{NewArray<double>::from(theta.values), NewArray<double>::from(omega_dot.values)};
                });
    m.function("inertial_step_rust", "inertial_step_rust(theta, omega_dot, power, knm_flat, inertia, damping, n, dt)",
               "",
               [](F64Array theta, F64Array omega_dot, F64Array power, F64Array knm, F64Array inertia,
                  F64Array damping, std::uint64_t n, double dt) -> Result<Pair, InternalError> {
                   auto r = inertial::inertial_step(theta.span(), omega_dot.span(),
                                                    {power.span(), knm.span(), inertia.span(), damping.span()}, n, dt);
                   if (!r) return std::move(r).error();
                   return Pair{NewArray<double>::from(r.value().theta), NewArray<double>::from(r.value().omega_dot)};
               });
    m.function("inertial_run_rust",
               "inertial_run_rust(theta, omega_dot, power, knm_flat, inertia, damping, n, dt, n_steps)", "",
               [](F64Array theta, F64Array omega_dot, F64Array power, F64Array knm, F64Array inertia,
                  F64Array damping, std::uint64_t n, double dt, std::uint64_t n_steps)
                   -> Result<std::tuple<NewArray<double>, NewArray<double>, NewArray<double>, NewArray<double>>,
                             InternalError> {
                   auto r = inertial::inertial_run(theta.span(), omega_dot.span(),
                                                   {power.span(), knm.span(), inertia.span(), damping.span()}, n, dt,
                                                   n_steps);
                   if (!r) return std::move(r).error();
                   const inertial::RunResult& v = r.value();
                   return std::tuple{NewArray<double>::from(v.theta), NewArray<double>::from(v.omega_dot),
                                     NewArray<double>::from(v.theta_trajectory),
                                     NewArray<double>::from(v.omega_dot_trajectory)};
               });
}

}  // namespace qel::py
