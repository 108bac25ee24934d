// Long loops (runs, sweeps, scans over samples) ask between iterations whether
// the caller wants to stop. The module installs the hook; engine code only asks,
// and only on the calling thread, never inside a pool task. When the hook says
// yes, the loop stops and returns an error value: the module has already
// recorded why (a pending KeyboardInterrupt) and reports that instead.
#pragma once

namespace qel {

using InterruptHook = bool (*)();

inline InterruptHook interrupt_hook = nullptr;

inline bool interrupted() { return interrupt_hook != nullptr && interrupt_hook(); }

}  // namespace qel
