// Order parameter, phase locking, layer coherence and regime labels.
#include "bindings/frame.hpp"
#include "engine/order_params.hpp"

namespace qel::py {

QEL_BINDINGS(order_params) {
    m.function("order_parameter", "order_parameter(phases)", "", [](F64Array phases) {
        auto op = order_params::order_parameter(phases.span());
        return std::tuple{op.r, op.psi};
    });
    m.function("plv", "plv(phases_a, phases_b)", "",
               [](F64Array a, F64Array b) { return order_params::plv(a.span(), b.span()); });
    m.function("compute_layer_coherence_rust", "compute_layer_coherence_rust(phases, indices)", "",
               [](F64Array phases, I64Array indices) {
                   return order_params::layer_coherence_signed(phases.span(), indices.span());
               });
    m.function("layer_coherence", "layer_coherence(phases, indices)", "",
               [](F64Array phases, std::vector<std::uint64_t> indices) {
                   return order_params::layer_coherence(phases.span(), indices);
               });
    m.function("detect_regimes_rust", "detect_regimes_rust(r, sync_threshold=0.7, desync_threshold=0.3)", "",
               [](F64Array r, double sync_threshold, double desync_threshold) {
                   auto out = NewArray<std::int32_t>::alloc(r.size());
                   order_params::detect_regimes(r.span(), sync_threshold, desync_threshold, out.span());
                   return out;
               });
}

}  // namespace qel::py
