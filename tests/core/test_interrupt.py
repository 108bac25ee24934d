"""Ctrl-C during a long call: KeyboardInterrupt within a fraction of a second, inputs untouched."""
import os
import subprocess
import sys
import time

import numpy as np
import pytest

import qel_kernel as qk

N = 32
RNG = np.random.default_rng(3)
PHASES = RNG.uniform(0, 2 * np.pi, N)
OMEGAS = RNG.normal(0, 1, N)
KNM = np.full(N * N, 0.1)
ALPHA = np.zeros(N * N)

# Calls that would run for minutes if nothing stopped them.
LONG_CALLS = {
    "PyUPDEStepper.run": lambda: qk.PyUPDEStepper(N, method="rk4").run(PHASES, OMEGAS, KNM, 0.5, 0.1, ALPHA, 10**9),
    "steady_state_r_rust": lambda: qk.steady_state_r_rust(PHASES, OMEGAS, KNM, ALPHA, N, 1.0, 0.01, 10**10, 10),
}


@pytest.mark.skipif(sys.platform == "win32", reason="needs kill -INT")
@pytest.mark.parametrize("name", sorted(LONG_CALLS))
def test_ctrl_c_stops_a_long_call(name):
    before = [a.copy() for a in (PHASES, OMEGAS, KNM, ALPHA)]
    # The signal must come from outside: a Python timer thread cannot run while the call holds the GIL.
    killer = subprocess.Popen(["sh", "-c", f"sleep 0.2; kill -INT {os.getpid()}"])
    start = time.monotonic()
    try:
        with pytest.raises(KeyboardInterrupt):
            LONG_CALLS[name]()
    finally:
        killer.wait()
    assert time.monotonic() - start < 0.2 + 0.5
    for a, b in zip(before, (PHASES, OMEGAS, KNM, ALPHA)):
        assert np.array_equal(a, b)
