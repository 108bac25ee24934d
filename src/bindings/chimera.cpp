// Chimera detection.
#include "bindings/frame.hpp"
#include "engine/chimera.hpp"

namespace qel::py {

template <>
struct TupleFields<chimera::Chimera> {
    using R = chimera::Chimera;
    static constexpr auto fields =
        std::tuple{&R::coherent, &R::incoherent, &R::chimera_index, as_array(&R::local_order)};
};

QEL_BINDINGS(chimera) {
    m.function("detect_chimera_rust", "detect_chimera_rust(phases, knm, n)",
               "Returns (coherent_indices, incoherent_indices, chimera_index, local_order).",
               [](F64Array phases, F64Array knm, std::uint64_t n) {
                   return chimera::detect_chimera(phases.span(), knm.span(), n);
               });
}

}  // namespace qel::py
