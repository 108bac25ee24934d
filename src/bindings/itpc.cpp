// compute_itpc_rust and itpc_persistence_rust.
#include "bindings/frame.hpp"
#include "engine/itpc.hpp"

namespace qel::py {

QEL_BINDINGS(itpc) {
    m.function("compute_itpc_rust", "compute_itpc_rust(phases_flat, n_trials, n_timepoints)", "",
               [](F64Array phases_flat, std::uint64_t n_trials, std::uint64_t n_timepoints) {
                   return AsArray{itpc::compute_itpc(phases_flat.span(), n_trials, n_timepoints)};
               });
    m.function("itpc_persistence_rust", "itpc_persistence_rust(phases_flat, n_trials, n_timepoints, pause_indices)", "",
               [](F64Array phases_flat, std::uint64_t n_trials, std::uint64_t n_timepoints, I64Array pause_indices) {
                   return itpc::itpc_persistence(phases_flat.span(), n_trials, n_timepoints, pause_indices.span());
               });
}

}  // namespace qel::py
