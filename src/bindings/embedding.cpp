// delay_embed_rust, optimal_delay_rust and optimal_dimension_rust.
#include "bindings/frame.hpp"
#include "engine/embedding.hpp"
#include "engine/util/internal_errors.hpp"

namespace qel::py {

QEL_BINDINGS(embedding) {
    m.function("delay_embed_rust", "delay_embed_rust(signal, delay, dimension)", "",
               [](F64Array signal, std::uint64_t delay, std::uint64_t dimension) -> Result<NewArray<double>, PlainError> {
                   auto rows = embedding::embedding_rows(signal.size(), delay, dimension);
                   if (!rows) return std::move(rows).error();
                   const auto len = buffer_len(rows.value(), dimension);
                   if (!len) return capacity_overflow();
                   auto out = NewArray<double>::alloc(*len);
                   embedding::delay_embed_into(signal.span(), delay, dimension, out.span());
                   return out;
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
