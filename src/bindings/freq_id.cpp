// identify_frequencies_rust.
#include "bindings/frame.hpp"
#include "engine/freq_id.hpp"

namespace qel::py {

QEL_BINDINGS(freq_id) {
    m.function("identify_frequencies_rust", "identify_frequencies_rust(data, n_ch, n_samples, fs)", "",
               [](F64Array data, std::uint64_t n_ch, std::uint64_t n_samples, double fs) {
                   return AsArray{freq_id::identify_frequencies(data.span(), n_ch, n_samples, fs)};
               });
}

}  // namespace qel::py
