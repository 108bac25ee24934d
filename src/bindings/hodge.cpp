// Hodge decomposition of coupling flows.
#include "bindings/frame.hpp"
#include "engine/hodge.hpp"

namespace qel::py {

QEL_BINDINGS(hodge) {
    m.function("hodge_decomposition_rust",
               "hodge_decomposition_rust(knm_flat, phases, n, edges_flat, n_edges, tris_flat, n_tris)", "",
               [](F64Array knm, F64Array phases, std::uint64_t n, I64Array edges, std::uint64_t n_edges,
                  I64Array tris, std::uint64_t n_tris)
                   -> Result<std::tuple<NewArray<double>, NewArray<double>, NewArray<double>>, PlainError> {
                   auto h = hodge::hodge_decomposition(knm.span(), phases.span(), n, edges.span(), n_edges,
                                                       tris.span(), n_tris);
                   if (!h) return std::move(h).error();
                   return std::tuple{NewArray<double>::from(h.value().gradient),
                                     NewArray<double>::from(h.value().curl),
                                     NewArray<double>::from(h.value().harmonic)};
               });
}

}  // namespace qel::py
