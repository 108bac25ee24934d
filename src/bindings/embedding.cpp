// delay_embed_rust, optimal_delay_rust and optimal_dimension_rust.
#include "bindings/frame.hpp"
#include "engine/embedding.hpp"

namespace qel::py {

QEL_BINDINGS(embedding) {
    m.function("delay_embed_rust", "delay_embed_rust(signal, delay, dimension)", "",
               [](F64Array signal, std::uint64_t delay, std::uint64_t dimension) {
                   return embedding::delay_embed(signal.span(), delay, dimension, NewArray<double>::alloc);
               });
    m.function("optimal_delay_rust", "optimal_delay_rust(signal, max_lag=100, n_bins=32)", "",
               [](F64Array signal, std::uint64_t max_lag, std::uint64_t n_bins) {
                   return embedding::optimal_delay(signal.span(), max_lag, n_bins);
               });
    m.function("optimal_dimension_rust", "optimal_dimension_rust(signal, delay, max_dim=10, rtol=15.0, atol=2.0)", "",
               [](F64Array signal, std::uint64_t delay, std::uint64_t max_dim, double rtol, double atol) {
                   return embedding::optimal_dimension(signal.span(), delay, max_dim, rtol, atol);
               });
}

}  // namespace qel::py
