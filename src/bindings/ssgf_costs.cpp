// Self-organising cost functional.
#include "bindings/frame.hpp"
#include "engine/ssgf_costs.hpp"

namespace qel::py {

template <>
struct TupleFields<ssgf_costs::Costs> {
    using R = ssgf_costs::Costs;
    static constexpr auto fields = std::tuple{&R::c1, &R::c2, &R::c3, &R::c4, &R::u};
};

QEL_BINDINGS(ssgf_costs) {
    m.function("compute_ssgf_costs_rust", "compute_ssgf_costs_rust(w_flat, phases, n, w1=1.0, w2=0.5, w3=0.1, w4=0.1)",
               "", [](F64Array w, F64Array phases, std::uint64_t n, double w1, double w2, double w3, double w4) {
                   return ssgf_costs::checked_ssgf_costs(w.span(), phases.span(), n, {w1, w2, w3, w4});
               });
}

}  // namespace qel::py
