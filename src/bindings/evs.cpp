// frequency_specificity_rust.
#include "bindings/frame.hpp"
#include "engine/evs.hpp"

namespace qel::py {

QEL_BINDINGS(evs) {
    m.function("frequency_specificity_rust",
               "frequency_specificity_rust(phases, n_trials, n_timepoints, target_freq, control_freq)", "",
               [](F64Array phases, std::uint64_t n_trials, std::uint64_t n_timepoints, double target_freq,
                  double control_freq) {
                   return evs::frequency_specificity(phases.span(), n_trials, n_timepoints, target_freq, control_freq);
               });
}

}  // namespace qel::py
