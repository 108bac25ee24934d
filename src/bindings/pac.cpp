// pac_modulation_index and pac_matrix_compute.
#include "bindings/frame.hpp"
#include "engine/pac.hpp"

namespace qel::py {

QEL_BINDINGS(pac) {
    m.function("pac_modulation_index", "pac_modulation_index(theta_low, amp_high, n_bins)", "",
               [](F64Array theta_low, F64Array amp_high, std::uint64_t n_bins) {
                   return pac::modulation_index(theta_low.span(), amp_high.span(), n_bins);
               });
    m.function("pac_matrix_compute", "pac_matrix_compute(phases, amplitudes, t, n, n_bins)", "",
               [](F64Array phases, F64Array amplitudes, std::uint64_t t, std::uint64_t n, std::uint64_t n_bins) {
                   return pac::pac_matrix(phases.span(), amplitudes.span(), t, n, n_bins);
               });
}

}  // namespace qel::py
