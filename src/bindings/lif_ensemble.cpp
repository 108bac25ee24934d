// PyLIFEnsemble: the layered integrate-and-fire ensemble.
#include "bindings/frame.hpp"
#include "engine/lif_ensemble.hpp"

namespace qel::py {

QEL_BINDINGS(lif_ensemble) {
    using lif_ensemble::LIFEnsemble;

    m.cls<LIFEnsemble>("PyLIFEnsemble", "PyLIFEnsemble(n_layers, neurons_per_layer, noise_std=0.0)", "",
                       [](std::uint64_t n_layers, std::uint64_t neurons_per_layer, double noise_std) {
                           return LIFEnsemble::create(n_layers, neurons_per_layer, noise_std);
                       })
        .method("step", "step($self, currents, n_substeps)", "",
                [](LIFEnsemble& e,
                   CopiedF64<"currents array not contiguous: The given array is not contiguous or is misaligned.">
                       currents,
                   std::uint64_t n_substeps) { return AsArray{e.step(currents.values, n_substeps)}; })
        .method("reset", "reset($self)", "", [](LIFEnsemble& e) { e.reset(); })
        .method("voltages", "voltages($self)", "",
                [](const LIFEnsemble& e) { return NewArray<double>::from(e.voltages()); })
        .method("spike_counts", "spike_counts($self)", "",
                [](const LIFEnsemble& e) { return NewArray<std::uint64_t>::from(e.spike_counts()); })
        .method("get_neuron_states", "get_neuron_states($self)", "",
                [](const LIFEnsemble& e) {
                    std::vector<Dict> states(e.n_total());
                    for (std::size_t i = 0; i < states.size(); ++i)
                        states[i].set("v", e.voltages()[i]).set("refractory", e.refractory()[i]);
                    return states;
                })
        .getter("n_total", "", [](const LIFEnsemble& e) { return e.n_total(); })
        .getter("n_layers", "", [](const LIFEnsemble& e) { return e.n_layers(); })
        .getter("neurons_per_layer", "", [](const LIFEnsemble& e) { return e.neurons_per_layer(); })
        .getter("step_count", "", [](const LIFEnsemble& e) { return e.step_count(); });
}

}  // namespace qel::py
