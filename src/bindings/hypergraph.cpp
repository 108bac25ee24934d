// PyHypergraphStepper and hypergraph_run_rust.
#include "bindings/frame.hpp"
#include "engine/hypergraph.hpp"
#include "engine/util/stepper_kit.hpp"

namespace qel::py {

using hypergraph::Hyperedge;
using hypergraph::HypergraphStepper;

// edges: a sequence of (nodes, strength) tuples.
template <>
struct TupleFields<Hyperedge> {
    using type = std::tuple<std::vector<std::size_t>, double>;
};

QEL_BINDINGS(hypergraph) {
    m.cls<HypergraphStepper>("PyHypergraphStepper", "PyHypergraphStepper(n, dt=0.01)", "",
                             [](std::uint64_t n, double dt) {
                                 return HypergraphStepper::create(n, kit::dt_config(dt));
                             })
        .method("step", "step($self, phases, omegas, edges, knm, alpha, zeta, psi)", "",
                [](HypergraphStepper& s, PhasesCopy phases, F64Array omegas, std::vector<Hyperedge> edges, F64Array knm,
                   F64Array alpha, double zeta, double psi) {
                    return advanced(s.step(phases.values, omegas.span(), edges, knm.span(), alpha.span(), zeta, psi),
                                    phases);
                })
        .method("run", "run($self, phases, omegas, edges, knm, alpha, zeta, psi, n_steps)", "",
                [](HypergraphStepper& s, PhasesCopy phases, F64Array omegas, std::vector<Hyperedge> edges, F64Array knm,
                   F64Array alpha, double zeta, double psi, std::uint64_t n_steps) {
                    return advanced(s.run(phases.values, omegas.span(), edges, knm.span(), alpha.span(), zeta, psi,
                                          n_steps),
                                    phases);
                })
        .method("order_parameter", "order_parameter($self)", "", [](const HypergraphStepper& s) {
            auto op = s.order_parameter();
            return std::make_tuple(op.r, op.psi);
        });

    m.function("hypergraph_run_rust",
               "hypergraph_run_rust(phases, omegas, n, edge_nodes, edge_offsets, edge_strengths, pairwise_knm, "
               "alpha, zeta, psi, dt, n_steps)",
               "Hypergraph Kuramoto run with flat-encoded hyperedges.\n\n"
               "`edge_nodes`: flat array of node indices for all edges concatenated.\n"
               "`edge_offsets`: start index in `edge_nodes` for each edge (length = n_edges).\n"
               "`edge_strengths`: coupling strength per edge (length = n_edges).",
               [](F64Array phases, F64Array omegas, std::uint64_t n, I64Array edge_nodes, I64Array edge_offsets,
                  F64Array edge_strengths, F64Array knm, F64Array alpha, double zeta, double psi, double dt,
                  std::uint64_t n_steps) {
                   return AsArray{hypergraph::hypergraph_run_flat(phases.span(), omegas.span(), n, edge_nodes.span(),
                                                                  edge_offsets.span(), edge_strengths.span(),
                                                                  knm.span(), alpha.span(), zeta, psi, dt, n_steps)};
               });
}

}  // namespace qel::py
