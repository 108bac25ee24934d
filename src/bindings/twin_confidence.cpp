// twin_divergence_rust.
#include "bindings/frame.hpp"
#include "engine/twin_confidence.hpp"

namespace qel::py {

QEL_BINDINGS(twin_confidence) {
    m.function("twin_divergence_rust",
               "twin_divergence_rust(model_phases, observed_phases, model_order, observed_order, n, w, n_bins)", "",
               [](F64Array model_phases, F64Array observed_phases, F64Array model_order, F64Array observed_order,
                  std::uint64_t n, std::uint64_t w, std::uint64_t n_bins) {
                   return AsArray{twin_confidence::twin_divergence(model_phases.span(), observed_phases.span(),
                                                                   model_order.span(), observed_order.span(), n, w,
                                                                   n_bins)};
               });
}

}  // namespace qel::py
