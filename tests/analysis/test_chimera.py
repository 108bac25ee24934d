"""Local order parameters, coherent and incoherent sets and the chimera index."""
import math
import os
import subprocess
import sys

import numpy as np
import pytest

import qel_kernel as qk
from reference import chimera as ref


def internal_error(fn, *args):
    with pytest.raises(BaseException) as info:
        fn(*args)
    assert type(info.value).__name__ == "PanicException"


@pytest.mark.parametrize(
    "phases, knm, expected",
    [
        ([0.0, 0.0], [0, 1, 1, 0], ([0, 1], [], 0.0)),
        ([0.0, math.pi], [1, 1, 1, 1], ([], [0, 1], 0.0)),  # own vector and its opposite: ~6e-17
        ([0.0, 3.0, 1.0], [0, 0, 0, -1, 0, 0, 0, 0, 2], ([2], [0, 1], 0.0)),  # zero and negative ignored
        ([0.0, 1.0, 2.0, 0.5], [math.nan, 1, 0, 0] + [0] * 12, ([0], [1, 2, 3], 0.0)),  # NaN coupling ignored
        ([0.0, 2.0, math.nan], [1, 1, 0, 1, 1, 0, 0, 0, 1], ([], [], 1.0)),  # |cos 1| between; NaN neither
    ],
)
def test_sets_and_index(phases, knm, expected):
    n = len(phases)
    coherent, incoherent, index, local = qk.detect_chimera_rust(np.array(phases), np.array(knm, float), n)
    assert (coherent, incoherent, index) == expected
    assert local.dtype == np.float64
    np.testing.assert_array_equal(local, ref.local_order(phases, knm, n))


@pytest.mark.parametrize(
    "phases, target",
    [([0.0, 1.5907976603682872], 0.7), ([0.0, 1.6208171836006666, -1.6208171836006666], 0.3)],
)
def test_thresholds_are_strict(phases, target):
    n = len(phases)
    knm = np.zeros(n * n)
    knm[:n] = 1.0  # oscillator 0 sees everyone, itself included
    assert ref.local_order(phases, knm, n)[0] == target
    coherent, incoherent, _, local = qk.detect_chimera_rust(np.array(phases), knm, n)
    assert local[0] == target and 0 not in coherent + incoherent


def big_case(n=300, seed=3):
    """A locked third that sees itself, a drifting third that sees itself, and
    a third that sees both."""
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
    np.testing.assert_array_equal(local[:40], ref.local_order(phases, knm, n)[:40])
    assert coherent == [i for i in range(n) if local[i] > 0.7]
    assert incoherent == [i for i in range(n) if local[i] < 0.3]
    assert index == (n - len(coherent) - len(incoherent)) / n
    assert 0 < len(coherent) and 0 < len(incoherent) and 0 < index < 1


def test_same_on_one_cpu():
    code = ("import os, sys; os.sched_setaffinity(0, {min(os.sched_getaffinity(0))}); sys.path.insert(0, sys.argv[1]);"
            " import qel_kernel as qk, test_chimera as t; sys.stdout.write(qk.detect_chimera_rust(*t.big_case())[3].tobytes().hex())")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    pinned = subprocess.run([sys.executable, "-c", code, os.path.dirname(__file__)], env=env, capture_output=True,
                            text=True, check=True).stdout
    assert bytes.fromhex(pinned) == qk.detect_chimera_rust(*big_case())[3].tobytes()


def test_lengths():
    knm = np.array([0, 1, 0, 1, 0, 0, 0, 0, 0.0])  # only 0 <-> 1 coupled
    assert qk.detect_chimera_rust(np.array([]), np.array([]), 0) == ([], [], 0.0, pytest.approx(np.array([])))
    # Oscillator 2 is never reached: its phase may be missing; extra entries are ignored.
    full = qk.detect_chimera_rust(np.array([0.0, 0.1, 9.0, 9.0]), np.append(knm, 5.0), 3)
    short = qk.detect_chimera_rust(np.array([0.0, 0.1]), knm, 3)
    assert full[:3] == short[:3] and np.array_equal(full[3], short[3])
    internal_error(qk.detect_chimera_rust, np.array([0.0]), knm, 3)  # a coupling reaches phase 1
    internal_error(qk.detect_chimera_rust, np.array([0.0, 0.1]), np.eye(3).ravel(), 3)  # K_22 reaches phase 2
    internal_error(qk.detect_chimera_rust, np.zeros(3), knm[:-1].copy(), 3)
    for n in (10**9, 2**32 + 1, 2**63):  # a short knm fails before n values are allocated
        internal_error(qk.detect_chimera_rust, np.zeros(3), knm, n)
    with pytest.raises(OverflowError):
        qk.detect_chimera_rust(np.zeros(3), knm, -1)
    with pytest.raises(ValueError, match="^The given array is not contiguous or is misaligned.$"):
        qk.detect_chimera_rust(np.zeros(6)[::2], knm, 3)
