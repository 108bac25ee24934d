// PyActiveInferenceAgent.
#include "bindings/frame.hpp"
#include "supervisor/active_inference.hpp"

namespace qel::py {

using active_inference::ActiveInferenceAgent;

QEL_BINDINGS(active_inference) {
    m.cls<ActiveInferenceAgent>("PyActiveInferenceAgent", "PyActiveInferenceAgent(n_hidden=4, target_r=0.5, lr=1.0)",
                                "",
                                [](std::uint64_t n_hidden, double target_r, double lr) {
                                    return ActiveInferenceAgent::create(n_hidden, target_r, lr);
                                })
        .property(
            "target_r", "", [](const ActiveInferenceAgent& self) { return self.target_r; },
            // Any float, unchecked.
            [](ActiveInferenceAgent& self, double val) { self.target_r = val; })
        .method("control", "control($self, phases=None, r_obs=None, psi_obs=None, dt=0.0)", "",
                // dt is converted but takes no part; with phases, r_obs and psi_obs are ignored.
                [](ActiveInferenceAgent& self, std::optional<F64Elements> phases, std::optional<double> r_obs,
                   std::optional<double> psi_obs, double dt) {
                    if (phases) return self.control(phases->values);
                    return self.control_observed(r_obs, psi_obs);
                });
}

}  // namespace qel::py
