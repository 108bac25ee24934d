import inspect
import math
import random

import numpy as np
import pytest

import qel_kernel as qk
from reference import coherence as ref

NAN = float("nan")
INF = float("inf")


def test_partitions_drop_repeats_and_good_indices_from_bad():
    m = qk.PyCoherenceMonitor([2, 0, 2], [1, 0, 3, 1])
    # Layer 2 and 0 are good, 1 and 3 bad: each layer is seen once.
    rs = [0.1, 0.2, 0.3, 0.4]
    assert m.compute_r_good(rs) == pytest.approx((0.3 + 0.1) / 2)
    assert m.compute_r_bad(rs) == pytest.approx((0.2 + 0.4) / 2)


@pytest.mark.parametrize("seed", range(5))
def test_means_match_reference(seed):
    rng = random.Random(seed)
    good = [rng.randrange(12) for _ in range(rng.randrange(15))]
    bad = [rng.randrange(12) for _ in range(rng.randrange(15))]
    rs = [rng.random() for _ in range(rng.randrange(10))]
    g, b = ref.partitions(good, bad)
    m = qk.PyCoherenceMonitor(good, bad)
    assert m.compute_r_good(rs) == ref.mean_r(rs, g)
    assert m.compute_r_bad(rs) == ref.mean_r(rs, b)


@pytest.mark.parametrize(
    "good, rs, expected",
    [
        ([0, 5], [0.4, 0.9], 0.4),  # index 5 skipped
        ([7, 9], [0.4, 0.9], 0.0),  # nothing in range
        ([], [0.4, 0.9], 0.0),
        ([0], [], 0.0),
        ([0, 1], [1.5, -2.0], -0.25),  # values used unchecked
        ([2**64 - 1], [0.3], 0.0),
    ],
)
def test_compute_r_good_cases(good, rs, expected):
    assert qk.PyCoherenceMonitor(good, []).compute_r_good(rs) == expected


def test_nan_and_infinity_are_carried():
    m = qk.PyCoherenceMonitor([0], [1])
    assert math.isnan(m.compute_r_bad([0.2, NAN]))
    assert m.compute_r_bad([0.2, INF]) == INF
    assert m.compute_r_good([0.2, NAN]) == 0.2


@pytest.mark.parametrize(
    "args, exc",
    [
        (("01", []), TypeError),
        (([-1], []), OverflowError),
        (([], [2**64]), OverflowError),
        (([1.0], []), TypeError),
        ((None, []), TypeError),
    ],
)
def test_constructor_conversion_errors(args, exc):
    with pytest.raises(exc) as info:
        qk.PyCoherenceMonitor(*args)
    name = "good_layers" if args[0] != [] else "bad_layers"
    assert info.value.__notes__ == [f"while processing '{name}'"]


def phase_lock_matrix():
    a = [0.0] * 9
    a[0 * 3 + 1] = 0.95
    a[0 * 3 + 2] = 0.5
    a[1 * 3 + 2] = 0.9
    return a


def test_phase_lock_strict_upper_triangle():
    m = qk.PyCoherenceMonitor([], [])
    assert m.detect_phase_lock([0.5] * 3, [0.0] * 3, phase_lock_matrix(), 0.9) == [(0, 1), (1, 2)]
    # Diagonal and lower triangle full of passing values change nothing.
    a = [1.0] * 9
    for i in range(3):
        for j in range(i + 1, 3):
            a[i * 3 + j] = 0.0
    assert m.detect_phase_lock([0.5] * 3, [], a, 0.5) == []


@pytest.mark.parametrize(
    "rs, align, threshold",
    [
        ([0.5] * 3, [1.0] * 8, 0.5),
        ([0.5] * 3, [1.0] * 10, 0.5),
        ([0.5] * 3, phase_lock_matrix(), NAN),
        ([0.5] * 3, phase_lock_matrix(), INF),
        ([0.5] * 3, phase_lock_matrix(), -INF),
        ([0.5], [1.0], 0.0),
        ([], [], 0.0),
    ],
)
def test_phase_lock_empty_results(rs, align, threshold):
    assert qk.PyCoherenceMonitor([0], [1]).detect_phase_lock(rs, [], align, threshold) == []


@pytest.mark.parametrize("psi", [[], [1.0], [0.1] * 7, [NAN, INF, 2.0]])
def test_phase_lock_ignores_psi_and_nan_never_passes(psi):
    a = phase_lock_matrix()
    a[0 * 3 + 1] = NAN
    res = qk.PyCoherenceMonitor([], []).detect_phase_lock([NAN, 0.5, 0.5], psi, a, 0.9)
    assert res == [(1, 2)]
    assert all(type(i) is int and type(j) is int for i, j in res)


@pytest.mark.parametrize("seed", range(4))
def test_phase_lock_matches_reference(seed):
    rng = np.random.default_rng(seed)
    n = int(rng.integers(0, 30))
    a = rng.random(n * n)
    t = float(rng.random())
    m = qk.PyCoherenceMonitor([], [])
    assert m.detect_phase_lock(rng.random(n), [], a, t) == ref.phase_lock(n, list(a), t)


def test_threshold_accepts_integers_and_signatures():
    m = qk.PyCoherenceMonitor(good_layers=[0], bad_layers=[])
    assert m.detect_phase_lock([1.0, 1.0], [], [0, 1, 0, 0], 1) == [(0, 1)]
    assert inspect.signature(qk.PyCoherenceMonitor).parameters.keys() == {"good_layers", "bad_layers"}
    assert qk.PyCoherenceMonitor.detect_phase_lock.__doc__.startswith(
        "Detect phase-locked layer pairs from cross-layer alignment matrix.\n\n`psi_values`"
    )
    assert qk.PyCoherenceMonitor.detect_phase_lock.__doc__.endswith("flattened n×n PLV matrix.")
