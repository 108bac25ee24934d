// Hodge decomposition of coupling flows.
#include "bindings/frame.hpp"
#include "engine/hodge.hpp"

namespace qel::py {

template <>
struct TupleFields<hodge::HodgeParts> {
    using R = hodge::HodgeParts;
    static constexpr auto fields = std::tuple{as_array(&R::gradient), as_array(&R::curl), as_array(&R::harmonic)};
};

QEL_BINDINGS(hodge) {
    m.function("hodge_decomposition_rust",
               "hodge_decomposition_rust(knm_flat, phases, n, edges_flat, n_edges, tris_flat, n_tris)", "",
               [](F64Array knm, F64Array phases, std::uint64_t n, I64Array edges, std::uint64_t n_edges, I64Array tris,
                  std::uint64_t n_tris) {
                   return hodge::hodge_decomposition(knm.span(), phases.span(), n, edges.span(), n_edges, tris.span(),
                                                     n_tris);
               });
}

}  // namespace qel::py
