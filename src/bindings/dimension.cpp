// correlation_integral_rust and kaplan_yorke_dimension_rust.
#include "bindings/frame.hpp"
#include "engine/dimension.hpp"

namespace qel::py {

QEL_BINDINGS(dimension) {
    m.function("correlation_integral_rust",
               "correlation_integral_rust(trajectory, t, d, epsilons, max_pairs=50000, seed=42)", "",
               [](F64Array trajectory, std::uint64_t t, std::uint64_t d, F64Array epsilons, std::uint64_t max_pairs,
                  std::uint64_t seed) {
                   return AsArray{
                       dimension::correlation_integral(trajectory.span(), t, d, epsilons.span(), max_pairs, seed)};
               });
    m.function("kaplan_yorke_dimension_rust", "kaplan_yorke_dimension_rust(exponents)", "",
               [](F64Array exponents) { return dimension::kaplan_yorke_dimension(exponents.span()); });
}

}  // namespace qel::py
