"""Ctrl-C during a long call: KeyboardInterrupt within a fraction of a second, inputs untouched."""
import os
import subprocess
import sys
import time

import numpy as np
import pytest

import qel_kernel as qk
from support import same_on_one_cpu

N = 32
RNG = np.random.default_rng(3)
PHASES = RNG.uniform(0, 2 * np.pi, N)
OMEGAS = RNG.normal(0, 1, N)
KNM = np.full(N * N, 0.1)
ALPHA = np.zeros(N * N)

# Each entry builds its inputs and a call that runs for several seconds (most for minutes) when nothing stops it: a
# stepper run and a relaxation on the calling thread, loops on the worker pool (the workers never ask, the calling
# thread asks for them) and the EDMD elimination.
def _run():
    return (PHASES, OMEGAS, KNM, ALPHA), lambda: qk.PyUPDEStepper(N, method="rk4").run(PHASES, OMEGAS, KNM, 0.5, 0.1,
                                                                                          ALPHA, 10**9)


def _relaxation():
    return (PHASES, OMEGAS, KNM, ALPHA), lambda: qk.steady_state_r_rust(PHASES, OMEGAS, KNM, ALPHA, N, 1.0, 0.01,
                                                                           10**10, 10)


def _sweep():
    return (OMEGAS, KNM, ALPHA, PHASES), lambda: qk.trace_sync_transition_rust(OMEGAS, KNM, ALPHA, N, PHASES, 0.0, 2.0,
                                                                                8, 0.01, 10**8, 10)


def _basin():
    args = (OMEGAS, KNM, ALPHA)
    return args, lambda: qk.basin_stability_rust(*args, N, 0.01, 10**4, 10, 128, 0.5, 7)


def _sindy():
    n, t = 400, 2000
    phases = np.cumsum(np.random.default_rng(5).normal(0, 0.1, (t, n)), axis=0).ravel()
    return (phases,), lambda: qk.sindy_fit_rust(phases, n, t, 0.1, 0.05, 10**6)


def _correlation():
    x = np.random.default_rng(6).normal(size=10**6)
    eps = np.array([0.1, 0.5])
    return (x, eps), lambda: qk.correlation_integral_rust(x, x.size, 1, eps, 10**12, 1)


def _transfer_entropy():
    n, t = 150, 10**5
    series = np.random.default_rng(7).uniform(0, 6, n * t)
    return (series,), lambda: qk.transfer_entropy_matrix_rust(series, n, t, 8)


def _koopman():
    # One sample: the Gram sums are nothing, the elimination of the 1501 x 3001 system is all the work.
    n_lift = 1500
    rng = np.random.default_rng(10)
    x, u, y, st = (rng.normal(size=s) for s in (n_lift, 1, n_lift, 2))
    return (x, u, y, st), lambda: qk.koopman_edmd_solve_rust(x, u, y, st, 1, n_lift, 1, 2, 1e-3)


def _fiedler():
    # A dense eigen-decomposition cannot stop part-way: it finishes, then the interrupt is raised.
    n = 2048
    knm = np.random.default_rng(11).uniform(0, 1, n * n)
    return (knm,), lambda: qk.fiedler_vector_rust(knm, n)


LONG_CALLS = {
    "PyUPDEStepper.run": _run,
    "steady_state_r_rust": _relaxation,
    "koopman_edmd_solve_rust": _koopman,
    "trace_sync_transition_rust": _sweep,
    "basin_stability_rust": _basin,
    "sindy_fit_rust": _sindy,
    "correlation_integral_rust": _correlation,
    "transfer_entropy_matrix_rust": _transfer_entropy,
    "fiedler_vector_rust": _fiedler,
}


@pytest.mark.skipif(sys.platform == "win32", reason="needs kill -INT")
@pytest.mark.parametrize("name", sorted(LONG_CALLS))
def test_ctrl_c_stops_a_long_call(name):
    inputs, call = LONG_CALLS[name]()
    before = [a.copy() for a in inputs]
    killer = subprocess.Popen(["sh", "-c", f"sleep 0.2; kill -INT {os.getpid()}"])
    start = time.monotonic()
    try:
        with pytest.raises(KeyboardInterrupt):
            call()
    finally:
        killer.wait()
    if name != "fiedler_vector_rust":
        assert time.monotonic() - start < 0.2 + 0.5
    for a, b in zip(before, inputs):
        assert np.array_equal(a, b)


def test_sindy_refits_stop_when_the_active_set_repeats():
    # Threshold 0 keeps every column active: the first refit repeats the full solve, so 2**62 rounds end at once
    # with the bits of a single round.
    phases = np.cumsum(np.full(40, 0.1))
    many = qk.sindy_fit_rust(phases, 1, 40, 0.1, 0.0, 2**62)
    assert many.tobytes() == qk.sindy_fit_rust(phases, 1, 40, 0.1, 0.0, 1).tobytes()
    rng = np.random.default_rng(8)
    p = np.cumsum(rng.normal(0, 0.1, (300, 6)), axis=0).ravel()
    for threshold in (0.0, 0.05, 0.5):
        assert qk.sindy_fit_rust(p, 6, 300, 0.1, threshold, 2**62).tobytes() == \
            qk.sindy_fit_rust(p, 6, 300, 0.1, threshold, 7).tobytes()


def test_stoppable_loops_do_not_depend_on_worker_count():
    same_on_one_cpu("""import numpy as np, qel_kernel as qk
rng = np.random.default_rng(9)
p = np.cumsum(rng.normal(0, 0.1, (200, 12)), axis=0).ravel()
x = rng.normal(size=3000)
parts = [qk.sindy_fit_rust(p, 12, 200, 0.1, 0.03, 20),
         qk.correlation_integral_rust(x, 1000, 3, np.array([0.2, 0.7, 1.5]), 10**9, 1),
         qk.transfer_entropy_matrix_rust(rng.uniform(0, 6, 30 * 400), 30, 400, 5),
         qk.estimate_coupling_rust(p.reshape(200, 12).T.ravel().copy(), np.zeros(12), 12, 200, 0.1),
         qk.recurrence_matrix_rust(x, 1000, 3, 0.8).astype(float),
         qk.cross_recurrence_matrix_rust(x, x[::-1].copy(), 1000, 3, 0.8).astype(float)]
out = np.concatenate([np.ravel(a) for a in parts]).tobytes()""")
