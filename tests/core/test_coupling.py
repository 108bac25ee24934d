import math
import sys

import numpy as np
import pytest

import qel_kernel as qk
from reference import coupling as ref
from support import bits

BIG = sys.float_info.max
NAN, INF = float("nan"), float("inf")
build, project = qk.PyCouplingBuilder().build, qk.PyCouplingBuilder.project


def test_build_worked_values_and_closed_form():
    k = build(3, 2.0, 1.0)["knm"]
    assert k[1] == 2.0 * math.exp(-1.0) and k[2] == 2.0 * math.exp(-2.0) and k[0] == k[4] == k[8] == 0.0
    assert all(k[i * 3 + j] == k[j * 3 + i] for i in range(3) for j in range(3))
    assert build(1, 5.0, 1.0) == {"knm": [0.0], "alpha": [0.0], "n": 1}
    for n, base, decay in [(7, 1.7, 0.25), (4, -0.0, 2.0)]:
        d = build(n, base, decay)
        assert list(d) == ["knm", "alpha", "n"] and d["n"] == n and type(d["n"]) is int
        assert bits(d["knm"]) == bits(ref.build_knm(n, base, decay)) and d["alpha"] == [0.0] * (n * n)
        assert all(type(v) is float for v in d["knm"] + d["alpha"])


def test_build_refuses_overflowing_size():
    with pytest.raises(ValueError, match="^invalid dimension: "):
        build(2**32, 1.0, 0.0)
    with pytest.raises(MemoryError):
        build(2**31, 1.0, 0.0)


@pytest.mark.parametrize(
    "call, msg",
    [
        (lambda: build(0, NAN, -1.0), "invalid dimension: n must be > 0"),
        (lambda: build(2, -1.0, -1.0), "invalid config: base_strength must be finite and non-negative, got -1"),
        (lambda: build(2, NAN, 0.0), "invalid config: base_strength must be finite and non-negative, got NaN"),
        (lambda: build(2, 1.0, -INF), "invalid config: decay_alpha must be non-negative finite, got -inf"),
        (lambda: project([], 2**32), "invalid dimension: n*n overflows usize for Knm"),
        (lambda: project([NAN] * 8, 3), "invalid dimension: expected 9=3*3, got 8"),
        (lambda: project([0, 0, 0, -INF], 2), "integration diverged: Knm must contain only finite values"),
    ],
)
def test_errors_in_check_order(call, msg):
    with pytest.raises(ValueError) as e:
        call()
    assert str(e.value) == msg


@pytest.mark.parametrize(
    "knm, n, expected",
    [
        ([5, 1, 3, 0], 2, [0.0, 2.0, 2.0, 0.0]),
        ([0.0, -0.0, -0.0, 0.0], 2, [0.0, -0.0, -0.0, 0.0]),
        # (a + b) / 2 would overflow for these finite couplings.
        ([0.0, BIG, BIG * 0.75, 0.0], 2, [0.0, BIG / 2 + (BIG * 0.75) / 2, BIG / 2 + (BIG * 0.75) / 2, 0.0]),
        ([0.0, BIG, BIG, 0.0], 2, [0.0, BIG, BIG, 0.0]),
    ],
)
def test_project_examples(knm, n, expected):
    assert bits(project(knm, n)) == bits(expected)


def test_project_matches_reference():
    k = np.random.default_rng(0).normal(size=36)
    out = project(k, 6)
    assert bits(out) == bits(ref.project_knm(k.tolist(), 6))
    m = np.array(out).reshape(6, 6)
    assert (m == m.T).all() and (m >= 0).all() and (np.diag(m) == 0).all()


def test_reduce_coupling():
    k = np.array([1.0, -2.0, 0.0, 3.5, INF, 1e308, -1.0])
    for factor in (1.5, NAN, 1.0):
        out = qk.reduce_coupling_rust(k, factor)
        with np.errstate(all="ignore"):
            np.testing.assert_array_equal(out.view(np.uint64), (k * (1.0 - factor)).view(np.uint64))
        assert not np.shares_memory(out, k)
