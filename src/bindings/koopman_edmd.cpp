// koopman_edmd_solve_rust.
#include "bindings/frame.hpp"
#include "engine/koopman_edmd.hpp"

namespace qel::py {

template <>
struct TupleFields<koopman_edmd::Operators> {
    using R = koopman_edmd::Operators;
    static constexpr auto fields = std::tuple{as_array(&R::a), as_array(&R::b), as_array(&R::c)};
};

QEL_BINDINGS(koopman_edmd) {
    m.function("koopman_edmd_solve_rust",
               "koopman_edmd_solve_rust(x_lift, inputs, y_lift, states, k, n_lift, m, n_state, regularisation)", "",
               [](F64Array x_lift, F64Array inputs, F64Array y_lift, F64Array states, std::uint64_t k,
                  std::uint64_t n_lift, std::uint64_t m, std::uint64_t n_state, double regularisation) {
                   return koopman_edmd::edmd_solve(x_lift.span(), inputs.span(), y_lift.span(), states.span(), k,
                                                   n_lift, m, n_state, regularisation);
               });
}

}  // namespace qel::py
