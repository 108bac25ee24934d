// PyCoherenceMonitor.
#include "bindings/frame.hpp"
#include "supervisor/coherence.hpp"

namespace qel::py {

using coherence::CoherenceMonitor;

QEL_BINDINGS(coherence) {
    m.cls<CoherenceMonitor>("PyCoherenceMonitor", "PyCoherenceMonitor(good_layers, bad_layers)", "",
                            [](std::vector<std::uint64_t> good_layers, std::vector<std::uint64_t> bad_layers) {
                                return CoherenceMonitor::create(good_layers, bad_layers);
                            })
        .method("compute_r_good", "compute_r_good($self, layer_rs)", "",
                [](const CoherenceMonitor& self, std::vector<double> layer_rs) {
                    return self.compute_r_good(layer_rs);
                })
        .method("compute_r_bad", "compute_r_bad($self, layer_rs)", "",
                [](const CoherenceMonitor& self, std::vector<double> layer_rs) { return self.compute_r_bad(layer_rs); })
        .method("detect_phase_lock", "detect_phase_lock($self, layer_rs, psi_values, cross_layer_alignment, threshold)",
                "Detect phase-locked layer pairs from cross-layer alignment matrix.\n\n"
                "`psi_values`: per-layer mean phase (same length as `layer_rs`).\n"
                "`cross_layer_alignment`: flattened n\u00d7n PLV matrix.",
                // The mean phases are converted but decide nothing.
                [](const CoherenceMonitor&, std::vector<double> layer_rs, std::vector<double> psi_values,
                   std::vector<double> cross_layer_alignment, double threshold) {
                    return CoherenceMonitor::detect_phase_lock(layer_rs.size(), cross_layer_alignment, threshold);
                });
}

}  // namespace qel::py
