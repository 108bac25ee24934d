// Self-organising cost functional.
#include "bindings/frame.hpp"
#include "engine/ssgf_costs.hpp"

namespace qel::py {

QEL_BINDINGS(ssgf_costs) {
    m.function("compute_ssgf_costs_rust",
               "compute_ssgf_costs_rust(w_flat, phases, n, w1=1.0, w2=0.5, w3=0.1, w4=0.1)", "",
               [](F64Array w, F64Array phases, std::uint64_t n, double w1, double w2, double w3,
                  double w4) -> Result<std::tuple<double, double, double, double, double>, PlainError> {
                   auto c = ssgf_costs::checked_ssgf_costs(w.span(), phases.span(), n, {w1, w2, w3, w4});
                   if (!c) return std::move(c).error();
                   const auto& v = c.value();
                   return std::tuple{v.c1, v.c2, v.c3, v.c4, v.u};
               });
}

}  // namespace qel::py
