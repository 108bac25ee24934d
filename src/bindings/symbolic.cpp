// Ring and walk phases of discrete state sequences.
#include "bindings/frame.hpp"
#include "oscillators/symbolic.hpp"

namespace qel::py {

QEL_BINDINGS(symbolic) {
    m.function("ring_phase", "ring_phase(state_index, n_states)", "",
               [](std::uint64_t state_index, std::uint64_t n_states) {
                   return symbolic::ring_phase(state_index, n_states);
               });
    m.function("graph_walk_phase", "graph_walk_phase(position, walk_length)", "",
               [](std::uint64_t position, std::uint64_t walk_length) {
                   return symbolic::graph_walk_phase(position, walk_length);
               });
    m.function("ring_phases_rust", "ring_phases_rust(state_indices, n_states)", "",
               [](I64Array state_indices, std::uint64_t n_states) {
                   auto out = NewArray<double>::alloc(state_indices.size());
                   symbolic::ring_phases(state_indices.span(), n_states, out.span());
                   return out;
               });
    m.function("graph_walk_phases_rust", "graph_walk_phases_rust(state_indices, n_states)", "",
               [](I64Array state_indices, std::uint64_t n_states) {
                   auto out = NewArray<double>::alloc(state_indices.size());
                   symbolic::graph_walk_phases(state_indices.span(), n_states, out.span());
                   return out;
               });
}

}  // namespace qel::py
