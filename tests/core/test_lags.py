import math

import pytest

import qel_kernel as qk
from support import TWO_PI
from reference import lags as ref

NAN, INF = float("nan"), float("inf")
SYMMETRIC = "integration diverged: distances must be symmetric physical pair distances"
# Lower triangle off by 5e-13, within the tolerance: the upper one is used.
D4 = [0.1 * (min(i, j) + 2 * max(i, j)) + (5e-13 if i > j else 0.0) if i != j else 0.0
      for i in range(4) for j in range(4)]


def test_zeros():
    for n in (0, 3):
        model = qk.PyLagModel.zeros(n)
        assert type(model) is qk.PyLagModel and model.n == n and model.alpha == [0.0] * (n * n)
    with pytest.raises(ValueError) as e:
        qk.PyLagModel.zeros(2**32)
    assert str(e.value) == "invalid dimension: n*n overflows usize for lag matrix"
    with pytest.raises(MemoryError):
        qk.PyLagModel.zeros(2**31)


@pytest.mark.parametrize(
    "distances, speed, expected",
    [
        ([0, 1, 1, 0], 1.0, [0.0, TWO_PI, -TWO_PI, 0.0]),
        # Tolerances are absolute and strict: exactly 1e-12 passes.
        ([0, 0, 1e-12, 0], 1.0, [0.0, 0.0, -0.0, 0.0]),
        ([1e-12, 0, 0, 0], 1.0, [0.0, 0.0, -0.0, 0.0]),
        ([0, -0.0, -0.0, 0], 5e-324, [0.0, -0.0, 0.0, 0.0]),
        (D4, 3.3, ref.estimate(D4, 4, 3.3)),
    ],
)
def test_estimate_antisymmetric_values(distances, speed, expected):
    n = math.isqrt(len(distances))
    model = qk.PyLagModel.estimate(distances, n, speed)
    assert model.n == n
    assert [(v, math.copysign(1, v)) for v in model.alpha] == [(v, math.copysign(1, v)) for v in expected]


@pytest.mark.parametrize(
    "distances, n, speed, msg",
    [
        ([], 2**32, 0.0, "invalid dimension: n*n overflows usize for lag matrix"),
        ([0, 1, 1], 2, NAN, "invalid dimension: expected 4=2*2, got 3"),
        ([0, NAN, 1, 0], 2, 0.0, "integration diverged: speed must be positive and finite"),
        ([0, 1, 1, 0], 2, INF, "integration diverged: speed must be positive and finite"),
        ([0, 1, 1 + 2e-12, 0], 2, 1.0, SYMMETRIC),
        ([NAN, -1, -1, 0], 2, 1.0, "integration diverged: distances contain NaN/Inf"),
        ([0, -1, INF, 0], 2, 1.0, "integration diverged: distances must be non-negative"),
        # Row 0's symmetry fault comes before row 1's diagonal fault.
        ([0, 1, 2, 1], 2, 1.0, SYMMETRIC),
        ([0, 1, 1, 1], 2, 1.0, "integration diverged: distances must have a zero diagonal"),
    ],
)
def test_estimate_check_order(distances, n, speed, msg):
    with pytest.raises(ValueError) as e:
        qk.PyLagModel.estimate(distances, n, speed)
    assert str(e.value) == msg
