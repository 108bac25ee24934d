// poincare_section_rust and phase_poincare_rust.
#include "bindings/frame.hpp"
#include "engine/poincare.hpp"

namespace qel::py {

QEL_BINDINGS(poincare) {
    m.function("poincare_section_rust",
               "poincare_section_rust(traj_flat, t, d, normal, offset=0.0, direction=\"positive\")",
               "Returns (crossings_flat, crossing_times, n_crossings).",
               [](F64Array traj_flat, std::uint64_t t, std::uint64_t d, F64Array normal, double offset,
                  std::string direction) {
                   return and_then(poincare::parse_direction(direction), [&](poincare::CrossingDirection dir) {
                       return poincare::crossing_arrays(poincare::poincare_section(traj_flat.span(), t, d,
                                                                                   normal.span(), offset, dir),
                                                        NewArray<double>::alloc);
                   });
               });
    m.function("phase_poincare_rust", "phase_poincare_rust(phases_flat, t, n, oscillator_idx=0, section_phase=0.0)", "",
               [](F64Array phases_flat, std::uint64_t t, std::uint64_t n, std::uint64_t oscillator_idx,
                  double section_phase) {
                   return poincare::crossing_arrays(poincare::phase_poincare(phases_flat.span(), t, n, oscillator_idx,
                                                                             section_phase),
                                                    NewArray<double>::alloc);
               });
}

}  // namespace qel::py
