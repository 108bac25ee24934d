import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import coherence as ref

NAN, INF = math.nan, math.inf


@pytest.mark.parametrize("good, bad, rs, r_good, r_bad", [
    ([2, 0, 2], [1, 0, 3, 1], [0.1, 0.2, 0.3, 0.4], (0.3 + 0.1) / 2, (0.2 + 0.4) / 2),  # each layer seen once
    ([0, 5], [7, 9], [0.4, 0.9], 0.4, 0.0),  # indices out of range skipped
    ([], [0, 1], [1.5, -2.0], 0.0, -0.25),  # values used unchecked
    ([0, 2**64 - 1], [1], [0.2, NAN], 0.2, NAN),
    ([0], [1], [0.2, INF], 0.2, INF),
])
def test_partition_means(good, bad, rs, r_good, r_bad):
    m = qk.PyCoherenceMonitor(good, bad)
    assert np.array_equal([m.compute_r_good(rs), m.compute_r_bad(rs)], [r_good, r_bad], equal_nan=True)


LOCKS = [0.0, 0.95, 0.5, 0.0, 0.0, 0.9, 0.0, 0.0, 0.0]  # (0, 1) = 0.95, (0, 2) = 0.5, (1, 2) = 0.9
LOWER = [0.0 if j > i else 1.0 for i in range(3) for j in range(3)]


@pytest.mark.parametrize("rs, psi, align, threshold, expected", [
    ([0.5] * 3, [0.0] * 3, LOCKS, 0.9, [(0, 1), (1, 2)]),  # 0.9 >= 0.9 passes
    ([0.5] * 3, [0.1] * 7, LOWER, 0.5, []),  # only the strict upper triangle is read
    ([NAN, 0.5, 0.5], [NAN, INF, 2.0], [0.0, NAN] + LOCKS[2:], 0.9, [(1, 2)]),  # NaN never passes
    ([0.5] * 3, [], [1.0] * 8, 0.5, []), ([0.5] * 3, [], LOCKS, NAN, []), ([0.5] * 3, [], LOCKS, -INF, []),
    ([], [], [], 0.0, []),
])
def test_detect_phase_lock(rs, psi, align, threshold, expected):
    res = qk.PyCoherenceMonitor([0], [1]).detect_phase_lock(rs, psi, align, threshold)
    assert res == expected
    assert all(type(i) is int and type(j) is int for i, j in res)


def test_random_monitors_match_reference():
    rng = np.random.default_rng(0)
    for _ in range(20):
        good, bad = (rng.integers(0, 12, rng.integers(0, 15)).tolist() for _ in range(2))
        rs, n = rng.random(rng.integers(0, 10)).tolist(), int(rng.integers(0, 30))
        a, t = rng.random(n * n), float(rng.random())
        m, (g, b) = qk.PyCoherenceMonitor(good, bad), ref.partitions(good, bad)
        assert (m.compute_r_good(rs), m.compute_r_bad(rs)) == (ref.mean_r(rs, g), ref.mean_r(rs, b))
        assert m.detect_phase_lock(rng.random(n), [], a, t) == ref.phase_lock(n, list(a), t)
