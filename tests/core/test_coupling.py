import math
import sys

import numpy as np
import pytest

import qel_kernel as qk
from reference import coupling as ref

BIG = sys.float_info.max


def bits(xs):
    return [struct_bits(x) for x in xs]


def struct_bits(x):
    return np.float64(x).view(np.uint64).item()


@pytest.fixture
def builder():
    return qk.PyCouplingBuilder()


@pytest.mark.parametrize(
    "n, base, decay",
    [(1, 1.0, 0.5), (3, 2.0, 1.0), (5, 0.3, 0.0), (7, 1.7, 0.25), (4, -0.0, 2.0)],
)
def test_build_matches_closed_form(builder, n, base, decay):
    d = builder.build(n, base, decay)
    assert list(d) == ["knm", "alpha", "n"]
    assert d["n"] == n and type(d["n"]) is int
    assert bits(d["knm"]) == bits(ref.build_knm(n, base, decay))
    assert d["alpha"] == [0.0] * (n * n)
    assert all(type(v) is float for v in d["knm"] + d["alpha"])


def test_build_worked_values(builder):
    k = builder.build(3, 2.0, 1.0)["knm"]
    assert k[1] == 2.0 * math.exp(-1.0) and k[2] == 2.0 * math.exp(-2.0)
    assert k[0] == k[4] == k[8] == 0.0
    assert all(k[i * 3 + j] == k[j * 3 + i] for i in range(3) for j in range(3))
    assert builder.build(1, 5.0, 1.0) == {"knm": [0.0], "alpha": [0.0], "n": 1}
    # -0.0 base strength passes and signs the couplings.
    assert math.copysign(1.0, builder.build(2, -0.0, 1.0)["knm"][1]) == -1.0


@pytest.mark.parametrize(
    "args, msg",
    [
        ((0, float("nan"), -1.0), "invalid dimension: n must be > 0"),
        ((2, -1.0, -1.0), "invalid config: base_strength must be finite and non-negative, got -1"),
        ((2, float("inf"), 0.0), "invalid config: base_strength must be finite and non-negative, got inf"),
        ((2, float("nan"), 0.0), "invalid config: base_strength must be finite and non-negative, got NaN"),
        ((2, 1.0, -0.5), "invalid config: decay_alpha must be non-negative finite, got -0.5"),
        ((2, 1.0, float("-inf")), "invalid config: decay_alpha must be non-negative finite, got -inf"),
    ],
)
def test_build_check_order(builder, args, msg):
    with pytest.raises(ValueError) as e:
        builder.build(*args)
    assert str(e.value) == msg


def test_build_refuses_overflowing_size(builder):
    with pytest.raises(ValueError, match="^invalid dimension: "):
        builder.build(2**32, 1.0, 0.0)
    with pytest.raises(MemoryError):
        builder.build(2**31, 1.0, 0.0)
    with pytest.raises(OverflowError):
        builder.build(-1, 1.0, 0.0)
    with pytest.raises(TypeError):
        qk.PyCouplingBuilder(1)


def test_build_signature_and_doc():
    assert qk.PyCouplingBuilder.build.__text_signature__ == "($self, n, base_strength, decay_alpha)"
    assert qk.PyCouplingBuilder.build.__doc__.endswith("Build coupling matrix. Returns dict with knm, alpha, n.")
    assert qk.PyCouplingBuilder.project.__text_signature__ == "(knm, n)"
    assert qk.reduce_coupling_rust.__text_signature__ == "(knm, reduction_factor)"


@pytest.mark.parametrize(
    "knm, n, expected",
    [
        ([0, 2, -4, 0], 2, [0.0, 0.0, 0.0, 0.0]),
        ([5, 1, 3, 0], 2, [0.0, 2.0, 2.0, 0.0]),
        ([], 0, []),
        ([0.0, -0.0, -0.0, 0.0], 2, [0.0, -0.0, -0.0, 0.0]),
    ],
)
def test_project_examples(knm, n, expected):
    out = qk.PyCouplingBuilder.project(knm, n)
    assert bits(out) == bits(expected)


@pytest.mark.parametrize("seed", [0, 1, 2])
@pytest.mark.parametrize("kind", [list, tuple, np.array])
def test_project_matches_reference(seed, kind):
    rng = np.random.default_rng(seed)
    n = 6
    k = rng.normal(size=n * n)
    out = qk.PyCouplingBuilder.project(kind(k.tolist()), n)
    assert bits(out) == bits(ref.project_knm(k.tolist(), n))
    m = np.array(out).reshape(n, n)
    assert (m == m.T).all() and (m >= 0).all() and (np.diag(m) == 0).all()


def test_project_mean_near_largest_double_stays_finite():
    # (a + b) / 2 would overflow for these finite couplings.
    out = qk.PyCouplingBuilder.project([0.0, BIG, BIG * 0.75, 0.0], 2)
    assert out[1] == out[2] == BIG / 2 + (BIG * 0.75) / 2
    assert math.isfinite(out[1])
    out = qk.PyCouplingBuilder.project([0.0, BIG, BIG, 0.0], 2)
    assert out[1] == BIG


@pytest.mark.parametrize(
    "knm, n, msg",
    [
        ([], 2**32, "invalid dimension: n*n overflows usize for Knm"),
        ([1.0] * 8, 3, "invalid dimension: expected 9=3*3, got 8"),
        ([float("nan")] * 8, 3, "invalid dimension: expected 9=3*3, got 8"),
        ([float("nan"), 0, 0, 0], 2, "integration diverged: Knm must contain only finite values"),
        ([0, 0, 0, float("-inf")], 2, "integration diverged: Knm must contain only finite values"),
    ],
)
def test_project_errors(knm, n, msg):
    with pytest.raises(ValueError) as e:
        qk.PyCouplingBuilder.project(knm, n)
    assert str(e.value) == msg


@pytest.mark.parametrize("factor", [0.0, 1.0, 0.25, 1.5, -2.0, float("nan")])
def test_reduce_coupling(factor):
    k = np.array([1.0, -2.0, 0.0, 3.5, float("inf"), 1e308])
    out = qk.reduce_coupling_rust(k, factor)
    assert type(out) is np.ndarray and out.dtype == np.float64 and out.flags.writeable
    with np.errstate(all="ignore"):
        expected = k * (1.0 - factor)
    np.testing.assert_array_equal(out.view(np.uint64), expected.view(np.uint64))
    assert not np.shares_memory(out, k)


def test_reduce_coupling_edges():
    out = qk.reduce_coupling_rust(np.array([-1.0, 1.0]), 1.0)
    assert [math.copysign(1.0, v) for v in out] == [-1.0, 1.0] and (out == 0).all()
    assert qk.reduce_coupling_rust(np.zeros(0), 3.0).shape == (0,)
    assert qk.reduce_coupling_rust(np.zeros(10)[::2][:0], 3.0).shape == (0,)
    with pytest.raises(ValueError, match="^The given array is not contiguous or is misaligned.$"):
        qk.reduce_coupling_rust(np.zeros(10)[::2], 0.5)
    with pytest.raises(TypeError):
        qk.reduce_coupling_rust([1.0, 2.0], 0.5)
