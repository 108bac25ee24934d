// Ethical cost functional.
#include "bindings/frame.hpp"
#include "engine/ethical.hpp"

namespace qel::py {

template <>
struct TupleFields<ethical::EthicalCost> {
    using R = ethical::EthicalCost;
    static constexpr auto fields = std::tuple{&R::score, &R::penalty, &R::cost, &R::violations};
};

QEL_BINDINGS(ethical) {
    m.function("compute_ethical_cost_rust",
               "compute_ethical_cost_rust(phases, knm, n, alpha_r, beta_k, gamma_q, nu_s, kappa, r_min, "
               "connectivity_min, max_coupling)",
               "",
               [](F64Array phases, F64Array knm, std::uint64_t n, double alpha_r, double beta_k, double gamma_q,
                  double nu_s, double kappa, double r_min, double connectivity_min, double max_coupling) {
                   return ethical::compute_ethical_cost(phases.span(), knm.span(), n,
                                                        {alpha_r, beta_k, gamma_q, nu_s, kappa, r_min, connectivity_min,
                                                         max_coupling});
               });
}

}  // namespace qel::py
