// Market synchrony: per-step order parameters and sliding phase-locking matrices.
#include "bindings/frame.hpp"
#include "engine/market.hpp"

namespace qel::py {

QEL_BINDINGS(market) {
    m.function("market_order_parameter_rust", "market_order_parameter_rust(phases_flat, t, n)", "",
               [](F64Array phases, std::uint64_t t, std::uint64_t n) {
                   return market::market_order_parameter(phases.span(), t, n, NewArray<double>::alloc);
               });
    m.function("market_plv_rust", "market_plv_rust(phases_flat, t, n, window=50)", "",
               [](F64Array phases, std::uint64_t t, std::uint64_t n, std::uint64_t window) {
                   return market::market_plv(phases.span(), t, n, window, NewArray<double>::alloc);
               });
}

}  // namespace qel::py
