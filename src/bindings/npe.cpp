// phase_distance_matrix and compute_npe.
#include "bindings/frame.hpp"
#include "engine/npe.hpp"

namespace qel::py {

QEL_BINDINGS(npe) {
    m.function("phase_distance_matrix", "phase_distance_matrix(phases)", "",
               [](F64Array phases) { return AsArray{npe::phase_distance_matrix(phases.span())}; });
    m.function("compute_npe", "compute_npe(phases, max_radius=...)", "",
               [](F64Array phases, ElidedDefault<3.141592653589793> max_radius) {
                   return npe::compute_npe(phases.span(), max_radius.value);
               });
}

}  // namespace qel::py
