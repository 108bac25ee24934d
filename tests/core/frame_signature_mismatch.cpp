// Must not compile: the text signature names one parameter, the lambda takes
// two. Built by CTest (frame_signature_mismatch), which expects the frame's
// own diagnostic.
#include "bindings/frame.hpp"

namespace qel::py {

QEL_BINDINGS(signature_mismatch) {
    m.function("plv", "plv(phases_a)", "", [](F64Array a, F64Array b) { return a.size() + b.size(); });
}

}  // namespace qel::py
