// Steady-state order parameter, synchronisation transition and basin stability.
#include "bindings/frame.hpp"
#include "engine/bifurcation.hpp"

namespace qel::py {

QEL_BINDINGS(bifurcation) {
    m.function("steady_state_r_rust",
               "steady_state_r_rust(phases_init, omegas, knm_flat, alpha_flat, n, k_scale, dt, n_transient, "
               "n_measure)",
               "",
               [](F64Array phases_init, F64Array omegas, F64Array knm, F64Array alpha, std::uint64_t n,
                  double k_scale, double dt, std::uint64_t n_transient, std::uint64_t n_measure) {
                   return bifurcation::steady_state_r(phases_init.span(), omegas.span(), knm.span(), alpha.span(),
                                                      n, k_scale, dt, n_transient, n_measure);
               });
    m.function("trace_sync_transition_rust",
               "trace_sync_transition_rust(omegas, knm_flat, alpha_flat, n, phases_init, k_min, k_max, n_points, "
               "dt, n_transient, n_measure)",
               "",
               [](F64Array omegas, F64Array knm, F64Array alpha, std::uint64_t n, F64Array phases_init,
                  double k_min, double k_max, std::uint64_t n_points, double dt, std::uint64_t n_transient,
                  std::uint64_t n_measure) -> Result<std::tuple<NewArray<double>, NewArray<double>, double>, PlainError> {
                   auto t = bifurcation::trace_sync_transition(phases_init.span(), omegas.span(), knm.span(),
                                                               alpha.span(), n, k_min, k_max, n_points, dt,
                                                               n_transient, n_measure);
                   if (!t) return std::move(t).error();
                   return std::tuple{NewArray<double>::from(t.value().grid),
                                     NewArray<double>::from(t.value().r_values), t.value().k_c};
               });
    m.function("find_critical_coupling_bif_rust",
               "find_critical_coupling_bif_rust(omegas, knm_flat, alpha_flat, n, phases_init, dt, n_transient, "
               "n_measure, tol)",
               "",
               [](F64Array omegas, F64Array knm, F64Array alpha, std::uint64_t n, F64Array phases_init, double dt,
                  std::uint64_t n_transient, std::uint64_t n_measure, double tol) {
                   return bifurcation::find_critical_coupling(phases_init.span(), omegas.span(), knm.span(),
                                                              alpha.span(), n, dt, n_transient, n_measure, tol);
               });
    m.function("basin_stability_rust",
               "basin_stability_rust(omegas, knm_flat, alpha_flat, n, dt, n_transient, n_measure, n_samples, "
               "r_threshold, seed)",
               "",
               [](F64Array omegas, F64Array knm, F64Array alpha, std::uint64_t n, double dt,
                  std::uint64_t n_transient, std::uint64_t n_measure, std::uint64_t n_samples, double r_threshold,
                  std::uint64_t seed) -> Result<std::tuple<double, NewArray<double>, std::uint64_t>, PlainError> {
                   auto b = bifurcation::basin_stability(omegas.span(), knm.span(), alpha.span(), n, dt,
                                                         n_transient, n_measure, n_samples, r_threshold, seed);
                   if (!b) return std::move(b).error();
                   return std::tuple{b.value().fraction, NewArray<double>::from(b.value().r_values),
                                     b.value().count};
               });
}

}  // namespace qel::py
