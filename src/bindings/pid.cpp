// pid_decomposition_rust.
#include "bindings/frame.hpp"
#include "engine/pid.hpp"

namespace qel::py {

QEL_BINDINGS(pid) {
    m.function("pid_decomposition_rust", "pid_decomposition_rust(phase_history, t, n, group_a, group_b, n_bins=32)", "",
               [](F64Array phase_history, std::uint64_t t, std::uint64_t n, I64Array group_a, I64Array group_b,
                  std::uint64_t n_bins) {
                   return pid::pid_decomposition(phase_history.span(), t, n, group_a.span(), group_b.span(), n_bins);
               });
}

}  // namespace qel::py
