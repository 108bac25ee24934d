"""Chimera detection and winding numbers."""
import math
import os
import subprocess
import sys
import time

import numpy as np
import pytest

import qel_kernel as qk
from reference import chimera as ref
from reference import winding as wref
from support import internal_error

ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")
NOT_CONTIGUOUS = "^The given array is not contiguous or is misaligned.(\n|$)"


@pytest.mark.parametrize(
    "phases, knm, expected",
    [
        ([0.0, 0.0], [0, 1, 1, 0], ([0, 1], [], 0.0)),
        ([0.0, math.pi], [1, 1, 1, 1], ([], [0, 1], 0.0)),  # own vector and its opposite: ~6e-17
        ([0.0, 3.0, 1.0], [0, 0, 0, -1, 0, 0, 0, 0, 2], ([2], [0, 1], 0.0)),  # zero, negative: no neighbour
        ([0.0, 1.0, 2.0, 0.5], [math.nan, 1] + [0] * 14, ([0], [1, 2, 3], 0.0)),
        ([0.0, 2.0, math.nan], [1, 1, 0, 1, 1, 0, 0, 0, 1], ([], [], 1.0)),  # |cos 1| in between; NaN neither
        ([0.0, 1.5907976603682872], [1, 1, 0, 0], ([], [1], 0.5)),  # local order 0 is exactly 0.7
        ([0.0, 1.6208171836006666, -1.6208171836006666], [1] * 3 + [0] * 6, ([], [1, 2], 1 / 3)),  # exactly 0.3
    ],
)
def test_sets_and_index(phases, knm, expected):
    n = len(phases)
    coherent, incoherent, index, local = qk.detect_chimera_rust(np.array(phases), np.array(knm, float), n)
    assert (coherent, incoherent, index) == expected
    assert local.dtype == np.float64
    np.testing.assert_array_equal(local, ref.local_order(phases, knm, n))
    assert local[0] in (0.7, 0.3) or not 0 < expected[2] < 1


def big_case(n=300, seed=3):  # thirds that are locked, drifting, and coupled to both
    rng = np.random.default_rng(seed)
    third = n // 3
    phases = np.concatenate([rng.normal(0.0, 0.3, third), rng.uniform(0, 2 * np.pi, n - third)])
    knm = rng.uniform(-1.0, 1.0, (n, n))
    knm[:third, third:] = knm[third:2 * third, :third] = knm[third:2 * third, 2 * third:] = -1.0
    knm[2 * third:, :2 * third] = np.abs(knm[2 * third:, :2 * third])
    return phases, knm.ravel(), n


def test_against_numpy_and_loops():
    phases, knm, n = big_case()
    coherent, incoherent, index, local = qk.detect_chimera_rust(phases, knm, n)
    np.testing.assert_allclose(local, ref.local_order_numpy(phases, knm, n), rtol=0, atol=1e-12)
    assert local[::25].tolist() == ref.local_order(phases, knm, n)[::25]
    assert (coherent, incoherent) == ([i for i in range(n) if local[i] > 0.7], [i for i in range(n) if local[i] < 0.3])
    assert index == (n - len(coherent) - len(incoherent)) / n and 0 < index < 1 and coherent and incoherent


def test_lengths():
    knm = np.array([0, 1, 0, 1, 0, 0, 0, 0, 0.0])  # only 0 <-> 1 coupled
    assert qk.detect_chimera_rust(np.array([]), np.array([]), 0)[:3] == ([], [], 0.0)
    # Oscillator 2 is never reached: its phase may be missing.
    assert qk.detect_chimera_rust(np.array([0.0, 0.1]), knm, 3)[1:] == ([2], 0.0, pytest.approx([1, 1, 0]))
    internal_error(qk.detect_chimera_rust, np.array([0.0]), knm, 3)  # a coupling reaches phase 1
    internal_error(qk.detect_chimera_rust, np.array([0.0, 0.1]), np.eye(3).ravel(), 3)  # K_22 reaches phase 2
    for n in (3, 10**9, 2**32 + 1, 2**63):  # a short knm fails before n values are allocated
        internal_error(qk.detect_chimera_rust, np.zeros(3), knm[:-1].copy(), n)
    with pytest.raises(ValueError, match=NOT_CONTIGUOUS):
        qk.detect_chimera_rust(np.zeros(6)[::2], knm, 3)


@pytest.mark.parametrize(
    "history, n, expected",
    [
        (np.arange(100) * 0.1, 1, [1]),  # 99 steps of 0.1: 9.9 rad
        ([0.3, 0.2, 0.2], 1, [-1]),  # one step back
        ([6.2, 0.1], 1, [0]),  # wrapped input: a forward step of about 0.18
        ([0.0, math.pi] * 6 + [0.0], 1, [6]),  # +pi either way counts as +pi
        ([0.0, 1.0, math.nan, 1.0, 2.0, 3.0], 2, [0, 0]),
        ([0.0, 0.0, math.inf, 0.1], 2, [0, 0]),
        ([0.0, 0.0, 0.1, 0.2, 0.3], 2, [0, 0]),  # not whole rows
        ([0.0, 0.0], 2, [0, 0]),  # one row
        ([1.0, 2.0], 0, []),
        ([0.0, 1e300, -1e300, 1.0], 1, None),  # huge increments: reduced at once
    ]
    + [(np.cumsum(np.random.default_rng(n).normal(0.3, s, n * 60)), n, None) for n, s in ((7, 1.0), (3, 1e6))],
)
def test_winding_numbers(history, n, expected):
    history = np.array(history, dtype=float)
    got = qk.winding_numbers(history, n)
    assert got.dtype == np.int64 and got.tolist() == wref.winding_numbers(history.tolist(), n)
    assert expected is None or got.tolist() == expected


def test_winding_inputs():
    start = time.perf_counter()
    qk.winding_numbers(np.array([0.0, 1e308, -1e308] * 1000), 1)
    assert time.perf_counter() - start < 1.0
    for n in (2**62,) if ASAN else (2**62, 2**40):  # n zeros cannot be had (the sanitizer aborts instead)
        with pytest.raises(MemoryError):
            qk.winding_numbers(np.array([]), n)
    with pytest.raises(ValueError, match=NOT_CONTIGUOUS):
        qk.winding_numbers(np.zeros(8)[::2], 2)


def test_same_on_one_cpu():
    """Chimera detection and coupling estimation, pinned to one CPU and on all."""
    code = ("import os, sys; os.sched_setaffinity(0, {min(os.sched_getaffinity(0))}); sys.path.insert(0, sys.argv[1]);"
            " import test_chimera as t; sys.stdout.write(t.parallel_results().hex())")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    pinned = subprocess.run([sys.executable, "-c", code, os.path.dirname(__file__)], env=env, capture_output=True,
                            text=True, check=True).stdout
    assert bytes.fromhex(pinned) == parallel_results()


def parallel_results():
    from test_coupling_est import euler_series

    phases, omegas, _ = euler_series(24, 300, 0.01, 5)
    return qk.detect_chimera_rust(*big_case())[3].tobytes() + qk.estimate_coupling_rust(phases, omegas, 24, 300,
                                                                                          0.01).tobytes()
