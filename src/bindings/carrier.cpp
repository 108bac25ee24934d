// carrier_decode_rust.
#include "bindings/frame.hpp"
#include "engine/carrier.hpp"

namespace qel::py {

QEL_BINDINGS(carrier) {
    m.function("carrier_decode_rust", "carrier_decode_rust(z, a, n)", "", [](F64Array z, F64Array a, std::uint64_t n) {
        return AsArray{carrier::carrier_decode(z.span(), a.span(), n)};
    });
}

}  // namespace qel::py
