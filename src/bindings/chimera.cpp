// Chimera detection.
#include "bindings/frame.hpp"
#include "engine/chimera.hpp"

namespace qel::py {

QEL_BINDINGS(chimera) {
    m.function("detect_chimera_rust", "detect_chimera_rust(phases, knm, n)",
               "Returns (coherent_indices, incoherent_indices, chimera_index, local_order).",
               [](F64Array phases, F64Array knm, std::uint64_t n)
                   -> Result<std::tuple<std::vector<std::size_t>, std::vector<std::size_t>, double, NewArray<double>>,
                             PlainError> {
                   auto c = chimera::detect_chimera(phases.span(), knm.span(), n);
                   if (!c) return std::move(c).error();
                   auto& v = c.value();
                   return std::tuple{std::move(v.coherent), std::move(v.incoherent), v.chimera_index,
                                     NewArray<double>::from(v.local_order)};
               });
}

}  // namespace qel::py
