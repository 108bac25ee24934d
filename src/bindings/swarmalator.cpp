// PySwarmalatorStepper and swarmalator_run_rust.
#include "bindings/frame.hpp"
#include "engine/swarmalator.hpp"

namespace qel::py {

using swarmalator::SwarmalatorStepper;

using PosCopy = CopiedF64<"pos not contiguous">;

QEL_BINDINGS(swarmalator) {
    m.cls<SwarmalatorStepper>("PySwarmalatorStepper", "PySwarmalatorStepper(n, dim, dt=0.01)", "",
                              [](std::uint64_t n, std::uint64_t dim, double dt) {
                                  return SwarmalatorStepper::create(n, dim, kit::dt_config(dt));
                              })
        .method("step", "step($self, pos, phases, omegas, a, b, j, k)",
                "One Euler step. Returns (pos, phases) as new numpy arrays.",
                [](SwarmalatorStepper& s, PosCopy pos, PhasesCopy phases, F64Array omegas, double a, double b,
                   double j, double k) {
                    return advanced(s.step(pos.values, phases.values, omegas.span(), a, b, j, k), pos, phases);
                })
        .method("order_parameter", "order_parameter($self)",
                "(R, psi) of the phases given to the latest accepted step.",
                [](const SwarmalatorStepper& s) {
                    auto o = s.order_parameter();
                    return std::tuple{o.r, o.psi};
                });

    m.function("swarmalator_run_rust",
               "swarmalator_run_rust(pos_init, phases_init, omegas, n, dim, dt, a, b, j, k, n_steps)",
               "Returns (pos, phases, pos_trajectory, phase_trajectory).",
               [](F64Array pos_init, F64Array phases_init, F64Array omegas, std::uint64_t n, std::uint64_t dim,
                  double dt, double a, double b, double j, double k, std::uint64_t n_steps)
                   -> Result<std::tuple<NewArray<double>, NewArray<double>, NewArray<double>, NewArray<double>>,
                             InternalError> {
                   auto r = swarmalator::run(pos_init.span(), phases_init.span(), omegas.span(), n, dim, dt, a, b,
                                             j, k, n_steps);
                   if (!r) return std::move(r).error();
                   return std::tuple{NewArray<double>::from(r.value().pos), NewArray<double>::from(r.value().phases),
                                     NewArray<double>::from(r.value().pos_trajectory),
                                     NewArray<double>::from(r.value().phase_trajectory)};
               });
}

}  // namespace qel::py
