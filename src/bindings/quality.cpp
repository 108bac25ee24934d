// Transition qualities and PyPhaseQualityScorer.
#include "bindings/frame.hpp"
#include "oscillators/quality.hpp"

namespace qel::py {

QEL_BINDINGS(quality) {
    using quality::PhaseQualityScorer;

    m.function("transition_quality", "transition_quality(step_size, n_states)", "",
               [](std::uint64_t step_size, std::uint64_t n_states) {
                   return quality::transition_quality(step_size, n_states);
               });
    m.function("transition_qualities_rust", "transition_qualities_rust(state_indices, n_states, initial_quality)", "",
               // initial_quality is checked before the layout of state_indices.
               [](Deferred<I64Array> state_indices, std::uint64_t n_states,
                  double initial_quality) -> Result<NewArray<double>, PlainError> {
                   if (auto bad = quality::check_initial_quality(initial_quality)) return std::move(*bad);
                   I64Array s = state_indices.finish();
                   auto out = NewArray<double>::alloc(s.size());
                   quality::transition_qualities(s.span(), n_states, initial_quality, out.span());
                   return out;
               });

    m.cls<PhaseQualityScorer>("PyPhaseQualityScorer", "PyPhaseQualityScorer(collapse_threshold=0.1, min_quality=0.3)",
                              "",
                              [](double collapse_threshold, double min_quality) {
                                  return PhaseQualityScorer(collapse_threshold, min_quality);
                              })
        .method("score", "score($self, qualities, amplitudes)", "",
                [](const PhaseQualityScorer& self, std::vector<double> qualities, std::vector<double> amplitudes) {
                    return self.score(qualities, amplitudes);
                })
        .method("is_collapsed", "is_collapsed($self, qualities)", "",
                [](const PhaseQualityScorer& self, std::vector<double> qualities) {
                    return self.is_collapsed(qualities);
                })
        .method("downweight_mask", "downweight_mask($self, qualities)", "",
                [](const PhaseQualityScorer& self, std::vector<double> qualities) {
                    return self.downweight_mask(qualities);
                });
}

}  // namespace qel::py
