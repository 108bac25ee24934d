// koopman_edmd_solve_rust.
#include "bindings/frame.hpp"
#include "engine/koopman_edmd.hpp"

namespace qel::py {

using Vec = std::vector<double>;

QEL_BINDINGS(koopman_edmd) {
    m.function("koopman_edmd_solve_rust",
               "koopman_edmd_solve_rust(x_lift, inputs, y_lift, states, k, n_lift, m, n_state, regularisation)", "",
               [](F64Array x_lift, F64Array inputs, F64Array y_lift, F64Array states, std::uint64_t k,
                  std::uint64_t n_lift, std::uint64_t m, std::uint64_t n_state,
                  double regularisation) -> Result<std::tuple<AsArray<Vec>, AsArray<Vec>, AsArray<Vec>>, PlainError> {
                   auto ops = koopman_edmd::edmd_solve(x_lift.span(), inputs.span(), y_lift.span(), states.span(), k,
                                                       n_lift, m, n_state, regularisation);
                   if (!ops) return std::move(ops).error();
                   auto& o = ops.value();
                   return std::tuple{AsArray{std::move(o.a)}, AsArray{std::move(o.b)}, AsArray{std::move(o.c)}};
               });
}

}  // namespace qel::py
