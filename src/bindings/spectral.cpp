// Spectral measures of a coupling matrix.
#include "bindings/frame.hpp"
#include "engine/spectral.hpp"

namespace qel::py {

QEL_BINDINGS(spectral) {
    m.function("fiedler_value_rust", "fiedler_value_rust(knm, n)", "",
               [](F64Array knm, std::uint64_t n) { return spectral::fiedler_value(knm.span(), n); });
    m.function("spectral_gap_rust", "spectral_gap_rust(knm, n)", "",
               [](F64Array knm, std::uint64_t n) { return spectral::spectral_gap(knm.span(), n); });
    m.function("fiedler_vector_rust", "fiedler_vector_rust(knm, n)", "",
               [](F64Array knm, std::uint64_t n) { return AsArray{spectral::fiedler_vector(knm.span(), n)}; });
    m.function("critical_coupling_rust", "critical_coupling_rust(omegas, knm, n)", "",
               [](F64Array omegas, F64Array knm, std::uint64_t n) {
                   return spectral::critical_coupling(omegas.span(), knm.span(), n);
               });
    // omegas is taken and checked like every array argument but not read.
    m.function("sync_convergence_rate_rust", "sync_convergence_rate_rust(knm, omegas, n, gamma_max)", "",
               [](F64Array knm, F64Array, std::uint64_t n, double gamma_max) {
                   return spectral::sync_convergence_rate(knm.span(), n, gamma_max);
               });
}

}  // namespace qel::py
