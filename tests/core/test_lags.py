import math

import pytest

import qel_kernel as qk
from reference import lags as ref

TWO_PI = 2.0 * math.pi


def test_not_instantiable():
    with pytest.raises(TypeError):
        qk.PyLagModel()


@pytest.mark.parametrize("n", [0, 1, 3])
def test_zeros(n):
    model = qk.PyLagModel.zeros(n)
    assert type(model) is qk.PyLagModel
    assert model.n == n and model.alpha == [0.0] * (n * n)


def test_zeros_refuses_overflowing_size():
    with pytest.raises(ValueError) as e:
        qk.PyLagModel.zeros(2**32)
    assert str(e.value) == "invalid dimension: n*n overflows usize for lag matrix"
    with pytest.raises(MemoryError):
        qk.PyLagModel.zeros(2**31)


@pytest.mark.parametrize(
    "distances, speed, expected",
    [
        ([0, 1, 1, 0], 1.0, [0.0, TWO_PI, -TWO_PI, 0.0]),
        ([0, 1, 1, 0], 2.0, [0.0, math.pi, -math.pi, 0.0]),
        ([0, 1, 1 + 1e-13, 0], 1.0, [0.0, TWO_PI, -TWO_PI, 0.0]),
        # Tolerances are absolute and strict: exactly 1e-12 passes.
        ([0, 0, 1e-12, 0], 1.0, [0.0, 0.0, -0.0, 0.0]),
        ([1e-12, 0, 0, 0], 1.0, [0.0, 0.0, -0.0, 0.0]),
        ([0, -0.0, -0.0, 0], 1.0, [0.0, -0.0, 0.0, 0.0]),
        ([], 5e-324, []),
    ],
)
def test_estimate_values(distances, speed, expected):
    n = math.isqrt(len(distances))
    model = qk.PyLagModel.estimate(distances, n, speed)
    assert model.n == n
    assert [(v, math.copysign(1, v)) for v in model.alpha] == [(v, math.copysign(1, v)) for v in expected]


def test_estimate_antisymmetric_from_upper_triangle():
    n = 4
    d = [0.0] * 16
    for i in range(n):
        for j in range(i + 1, n):
            d[i * n + j] = 0.1 * (i + 2 * j)
            d[j * n + i] = d[i * n + j] + 5e-13
    model = qk.PyLagModel.estimate(d, n, 3.3)
    assert model.alpha == ref.estimate(d, n, 3.3)
    a = model.alpha
    assert all(a[i * n + j] == -a[j * n + i] for i in range(n) for j in range(n) if i != j)


@pytest.mark.parametrize(
    "distances, n, speed, msg",
    [
        ([], 2**32, 0.0, "invalid dimension: n*n overflows usize for lag matrix"),
        ([0, 1, 1], 2, float("nan"), "invalid dimension: expected 4=2*2, got 3"),
        ([0, float("nan"), 1, 0], 2, 0.0, "integration diverged: speed must be positive and finite"),
        ([0, 1, 1, 0], 2, -0.0, "integration diverged: speed must be positive and finite"),
        ([0, 1, 1, 0], 2, float("inf"), "integration diverged: speed must be positive and finite"),
        ([0, 1, 2, 0], 2, 1.0, "integration diverged: distances must be symmetric physical pair distances"),
        ([0, 1, 1 + 2e-12, 0], 2, 1.0,
         "integration diverged: distances must be symmetric physical pair distances"),
        ([0, -1, -1, 0], 2, 1.0, "integration diverged: distances must be non-negative"),
        ([float("nan"), -1, -1, 0], 2, 1.0, "integration diverged: distances contain NaN/Inf"),
        ([0, -1, float("inf"), 0], 2, 1.0, "integration diverged: distances must be non-negative"),
        ([1, 1, 1, 0], 2, 1.0, "integration diverged: distances must have a zero diagonal"),
        # Row 0's symmetry fault comes before row 1's diagonal fault.
        ([0, 1, 2, 1], 2, 1.0, "integration diverged: distances must be symmetric physical pair distances"),
        ([0, 1, 1, 1], 2, 1.0, "integration diverged: distances must have a zero diagonal"),
    ],
)
def test_estimate_check_order(distances, n, speed, msg):
    with pytest.raises(ValueError) as e:
        qk.PyLagModel.estimate(distances, n, speed)
    assert str(e.value) == msg
