// Coupling priors: distance-decay profile and Gaussian log-prior.
#include "bindings/frame.hpp"
#include "engine/prior.hpp"

namespace qel::py {

QEL_BINDINGS(prior) {
    m.function("prior_distance_decay_rust", "prior_distance_decay_rust(n, k_base, decay_alpha)", "",
               [](std::uint64_t n, double k_base, double decay_alpha) {
                   return prior::prior_distance_decay(n, k_base, decay_alpha, NewArray<double>::alloc);
               });
    m.function("prior_log_probability_rust",
               "prior_log_probability_rust(k_base, decay_alpha, k_mean, k_std, alpha_mean, alpha_std)", "",
               [](double k_base, double decay_alpha, double k_mean, double k_std, double alpha_mean, double alpha_std) {
                   return prior::prior_log_probability(k_base, decay_alpha, k_mean, k_std, alpha_mean, alpha_std);
               });
}

}  // namespace qel::py
