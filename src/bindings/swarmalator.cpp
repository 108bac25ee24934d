// PySwarmalatorStepper and swarmalator_run_rust.
#include "bindings/frame.hpp"
#include "engine/swarmalator.hpp"

namespace qel::py {

using swarmalator::SwarmalatorStepper;

using PosCopy = CopiedF64<"pos not contiguous">;

template <>
struct TupleFields<swarmalator::RunResult> {
    using R = swarmalator::RunResult;
    static constexpr auto fields = std::tuple{as_array(&R::pos), as_array(&R::phases), as_array(&R::pos_trajectory),
                                              as_array(&R::phase_trajectory)};
};

QEL_BINDINGS(swarmalator) {
    m.cls<SwarmalatorStepper>("PySwarmalatorStepper", "PySwarmalatorStepper(n, dim, dt=0.01)", "",
                              [](std::uint64_t n, std::uint64_t dim, double dt) {
                                  return SwarmalatorStepper::create(n, dim, kit::dt_config(dt));
                              })
        .method("step", "step($self, pos, phases, omegas, a, b, j, k)",
                "One Euler step. Returns (pos, phases) as new numpy arrays.",
                [](SwarmalatorStepper& s, PosCopy pos, PhasesCopy phases, F64Array omegas, double a, double b, double j,
                   double k) {
                    return advanced(s.step(pos.values, phases.values, omegas.span(), a, b, j, k), pos, phases);
                })
        .method("order_parameter", "order_parameter($self)",
                "(R, psi) of the phases given to the latest accepted step.", [](const SwarmalatorStepper& s) {
                    auto o = s.order_parameter();
                    return std::tuple{o.r, o.psi};
                });

    m.function("swarmalator_run_rust",
               "swarmalator_run_rust(pos_init, phases_init, omegas, n, dim, dt, a, b, j, k, n_steps)",
               "Returns (pos, phases, pos_trajectory, phase_trajectory).",
               [](F64Array pos_init, F64Array phases_init, F64Array omegas, std::uint64_t n, std::uint64_t dim,
                  double dt, double a, double b, double j, double k, std::uint64_t n_steps) {
                   return swarmalator::run(pos_init.span(), phases_init.span(), omegas.span(), n, dim, dt, a, b, j, k,
                                           n_steps);
               });
}

}  // namespace qel::py
