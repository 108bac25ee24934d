// Synthetic two-hemisphere connectome.
#include "bindings/frame.hpp"
#include "engine/connectome.hpp"

namespace qel::py {

QEL_BINDINGS(connectome) {
    m.function("load_hcp_connectome_rust", "load_hcp_connectome_rust(n_regions, seed)", "",
               [](std::uint64_t n_regions, std::uint64_t seed) {
                   return connectome::load_hcp_connectome(n_regions, seed, NewArray<double>::alloc);
               });
}

}  // namespace qel::py
