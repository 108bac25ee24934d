// Attention-style coupling modulation.
#include "bindings/frame.hpp"
#include "engine/attnres.hpp"

namespace qel::py {

QEL_BINDINGS(attnres) {
    m.function("attnres_modulate_rust",
               "attnres_modulate_rust(knm, theta, w_q, w_k, w_v, w_o, n, n_heads, block_size, temperature, lambda_)",
               "",
               [](F64Array knm, F64Array theta, F64Array w_q, F64Array w_k, F64Array w_v, F64Array w_o, std::uint64_t n,
                  std::uint64_t n_heads, std::int64_t block_size, double temperature, double lambda) {
                   return AsArray{attnres::attnres_modulate(knm.span(), theta.span(), w_q.span(), w_k.span(),
                                                            w_v.span(), w_o.span(), n, n_heads, block_size, temperature,
                                                            lambda)};
               });
}

}  // namespace qel::py
