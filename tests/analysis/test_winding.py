"""Winding numbers of phase histories."""
import math
import os
import time

import numpy as np
import pytest

import qel_kernel as qk
from reference import winding as ref


@pytest.mark.parametrize(
    "history, n, expected",
    [
        (np.arange(100) * 0.1, 1, [1]),  # 99 steps of 0.1: 9.9 rad
        ([1.0] * 5, 1, [0]),
        ([0.3, 0.2, 0.2], 1, [-1]),  # one step back
        ([6.2, 0.1], 1, [0]),  # wrapped input: a forward step of about 0.18
        ([0.0, math.pi], 1, [0]),  # +pi either way counts as +pi
        ([math.pi, 0.0], 1, [0]),
        ([0.0, math.pi] * 6 + [0.0], 1, [6]),  # twelve steps of +pi, one each way
        ([0.0, 1.0, math.nan, 1.0, 2.0, 3.0], 2, [0, 0]),  # NaN
        ([0.0, 0.0, math.inf, 0.1], 2, [0, 0]),  # inf
        ([0.0, 0.0, 0.1, 0.2, 0.3], 2, [0, 0]),  # not whole rows
        ([0.0, 0.0], 2, [0, 0]),  # one row
        ([], 3, [0, 0, 0]),
        ([1.0, 2.0], 0, []),
        ([0.0, 1e300, -1e300, 1.0], 1, None),  # huge increments: reduced at once
    ],
)
def test_edge_values(history, n, expected):
    history = np.array(history, dtype=float)
    got = qk.winding_numbers(history, n)
    assert got.dtype == np.int64 and got.shape == (n,)
    assert got.tolist() == ref.winding_numbers(history.tolist(), n)
    if expected is not None:
        assert got.tolist() == expected


@pytest.mark.parametrize("n, t, scale", [(1, 2, 1.0), (7, 50, 1.0), (5, 400, 3.0), (3, 30, 1e6)])
def test_against_transcription(n, t, scale):
    rng = np.random.default_rng(n * t)
    history = np.cumsum(rng.normal(0.3, scale, n * t))
    assert qk.winding_numbers(history, n).tolist() == ref.winding_numbers(history.tolist(), n)


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""), reason="the sanitizer aborts on huge requests")
def test_failed_allocation_is_memory_error():
    with pytest.raises(MemoryError):
        qk.winding_numbers(np.array([]), 2**40)


def test_bad_arguments():
    start = time.perf_counter()
    assert qk.winding_numbers(np.array([0.0, 1e308, -1e308] * 1000), 1).tolist() == [0]
    assert time.perf_counter() - start < 1.0
    with pytest.raises(MemoryError):  # n zeros cannot be had
        qk.winding_numbers(np.array([]), 2**62)
    with pytest.raises(OverflowError):
        qk.winding_numbers(np.zeros(4), -1)
    with pytest.raises(TypeError):
        qk.winding_numbers(np.zeros(4, dtype=np.float32), 1)
    with pytest.raises(ValueError, match="^The given array is not contiguous or is misaligned.$"):
        qk.winding_numbers(np.zeros(8)[::2], 2)
