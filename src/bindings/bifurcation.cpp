// Steady-state order parameter, synchronisation transition and basin stability.
#include "bindings/frame.hpp"
#include "engine/bifurcation.hpp"

namespace qel::py {

template <>
struct TupleFields<bifurcation::Transition> {
    using R = bifurcation::Transition;
    static constexpr auto fields = std::tuple{as_array(&R::grid), as_array(&R::r_values), &R::k_c};
};
template <>
struct TupleFields<bifurcation::Basin> {
    using R = bifurcation::Basin;
    static constexpr auto fields = std::tuple{&R::fraction, as_array(&R::r_values), &R::count};
};

QEL_BINDINGS(bifurcation) {
    m.function("steady_state_r_rust",
               "steady_state_r_rust(phases_init, omegas, knm_flat, alpha_flat, n, k_scale, dt, n_transient, "
               "n_measure)",
               "",
               [](F64Array phases_init, F64Array omegas, F64Array knm, F64Array alpha, std::uint64_t n, double k_scale,
                  double dt, std::uint64_t n_transient, std::uint64_t n_measure) {
                   return bifurcation::steady_state_r(phases_init.span(), omegas.span(), knm.span(), alpha.span(), n,
                                                      k_scale, dt, n_transient, n_measure);
               });
    m.function("trace_sync_transition_rust",
               "trace_sync_transition_rust(omegas, knm_flat, alpha_flat, n, phases_init, k_min, k_max, n_points, "
               "dt, n_transient, n_measure)",
               "",
               [](F64Array omegas, F64Array knm, F64Array alpha, std::uint64_t n, F64Array phases_init, double k_min,
                  double k_max, std::uint64_t n_points, double dt, std::uint64_t n_transient, std::uint64_t n_measure) {
                   return bifurcation::trace_sync_transition(phases_init.span(), omegas.span(), knm.span(),
                                                             alpha.span(), n, k_min, k_max, n_points, dt, n_transient,
                                                             n_measure);
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
               [](F64Array omegas, F64Array knm, F64Array alpha, std::uint64_t n, double dt, std::uint64_t n_transient,
                  std::uint64_t n_measure, std::uint64_t n_samples, double r_threshold, std::uint64_t seed) {
                   return bifurcation::basin_stability(omegas.span(), knm.span(), alpha.span(), n, dt, n_transient,
                                                       n_measure, n_samples, r_threshold, seed);
               });
}

}  // namespace qel::py
