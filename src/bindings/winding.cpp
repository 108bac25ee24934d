// Winding numbers of a phase history.
#include "bindings/frame.hpp"
#include "engine/winding.hpp"

namespace qel::py {

QEL_BINDINGS(winding) {
    m.function("winding_numbers", "winding_numbers(phases_history, n_oscillators)", "",
               [](F64Array history, std::uint64_t n) { return AsArray{winding::winding_numbers(history.span(), n)}; });
}

}  // namespace qel::py
