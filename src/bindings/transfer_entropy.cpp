// phase_transfer_entropy_rust and transfer_entropy_matrix_rust.
#include "bindings/frame.hpp"
#include "engine/transfer_entropy.hpp"

namespace qel::py {

QEL_BINDINGS(transfer_entropy) {
    m.function("phase_transfer_entropy_rust", "phase_transfer_entropy_rust(source, target, n_bins)", "",
               [](F64Array source, F64Array target, std::uint64_t n_bins) {
                   return transfer_entropy::phase_transfer_entropy(source.span(), target.span(), n_bins);
               });
    m.function("transfer_entropy_matrix_rust", "transfer_entropy_matrix_rust(phase_series, n_osc, n_time, n_bins)", "",
               [](F64Array phase_series, std::uint64_t n_osc, std::uint64_t n_time, std::uint64_t n_bins) {
                   return AsArray{
                       transfer_entropy::transfer_entropy_matrix(phase_series.span(), n_osc, n_time, n_bins)};
               });
}

}  // namespace qel::py
