import math
import struct

import numpy as np
import pytest

import qel_kernel as qk
from reference import reduction as ref

INF, NAN = math.inf, math.nan


def bits(values, any_nan=False):
    # The sign and payload of a NaN made by arithmetic depend on operand order, which IEEE leaves free.
    return [b"NaN" if any_nan and math.isnan(v) else struct.pack("<d", v) for v in values]


@pytest.mark.parametrize(
    "args",
    [
        (0.3, -0.2, 1.5, 0.4, 2.5, 0.05, 37),
        (0.9, 0.1, -0.7, 0.0, -1.0, 0.2, 11),
        (0.5, 0.5, 2.0, -0.3, 4.0, -0.01, 25),  # negative delta and dt are integrated as given
        (1e200, 1e200, 0.0, 0.1, 1.0, 0.5, 3),  # |z| > 1, overflow propagates
        (0.1, NAN, 0.0, 0.1, 1.0, 0.01, 2),
        (-1.0, 0.0, 1.0, 1.0, 1.0, 0.01, 0),  # zero steps: psi = pi
        (-1.0, -0.0, 1.0, 1.0, 1.0, 0.01, 0),  # and -pi from z_im = -0.0
        (0.0, 0.0, 3.0, 0.5, 2.0, 0.1, 100),  # z = 0 is fixed
    ],
)
def test_oa_run_is_the_rk4_of_the_reduced_equation(args):
    assert bits(qk.oa_run_rust(*args), True) == bits(ref.oa_run(*args), True)


@pytest.mark.parametrize("r0, omega_0, delta, k", [(0.1, 0.0, 0.5, 2.0), (0.6, 3.0, 0.25, 3.0), (0.9, -1.0, 1.0, 1.0)])
def test_oa_r_follows_the_closed_form(r0, omega_0, delta, k):
    dt, n = 0.001, 20_000
    x, y, r, psi = qk.oa_run_rust(r0 * math.cos(0.4), r0 * math.sin(0.4), omega_0, delta, k, dt, n)
    assert r == pytest.approx(ref.closed_form_r(r0, delta, k, dt * n), rel=1e-10, abs=1e-12)
    assert math.atan2(y, x) == psi and -math.pi <= psi <= math.pi
    if k > 2 * delta:
        assert r == pytest.approx(qk.steady_state_r_oa_rust(delta, k), abs=1e-6)


@pytest.mark.parametrize(
    "values, expected",
    [([4, 1, 3, 2], (2.5, 1.0)), ([1, 2, 3], (2.0, 1.0)), ([5], (5.0, 0.01)), ([3, 3, 3], (3.0, 0.01)),
     ([], (0.0, 0.01))],
)
def test_fit_worked_examples(values, expected):
    assert qk.fit_lorentzian_rust(np.array(values, dtype=float)) == expected


def _sample(kind, n, seed):
    rng = np.random.default_rng(seed)
    if kind == "cauchy":
        return rng.standard_cauchy(n) * 0.3 + 1.0
    if kind == "ulps":  # equal in every digit but the last: the selection descends to the bottom
        return 1.0 + rng.integers(0, 40, n) * 2.0**-52
    if kind == "zeros":  # the quartiles and the median land on zeros of both signs
        return rng.choice([-0.0, 0.0, -1.0, 2.0, 0.0], n, p=[0.3, 0.3, 0.1, 0.1, 0.2])
    if kind == "nan":  # NaN beyond the median, with payloads, and infinities
        v = rng.choice([np.nan, -np.inf, np.inf, 5e-324, -2.5], n, p=[0.6, 0.1, 0.1, 0.1, 0.1])
        v[::7] = np.frombuffer(struct.pack("<Q", 0x7FF800000000BEEF), dtype=float)[0]
        return v
    return rng.integers(-3, 4, n).astype(float)  # many ties


@pytest.mark.parametrize("kind", ["cauchy", "ulps", "zeros", "nan", "ties"])
@pytest.mark.parametrize("n", [255, 257, 4000, 70_001])
def test_fit_equals_the_stable_sort_bit_for_bit(kind, n):
    values = _sample(kind, n, n)
    assert bits(qk.fit_lorentzian_rust(values)) == bits(ref.fit_lorentzian(values.tolist()))


def test_fit_layout():
    assert qk.fit_lorentzian_rust(np.zeros(4)[::4][:0]) == (0.0, 0.01)
    with pytest.raises(ValueError, match=r"^The given array is not contiguous or is misaligned\.(\n|$)"):
        qk.fit_lorentzian_rust(np.arange(6.0)[::2])


@pytest.mark.parametrize(
    "delta, k, expected",
    [(1.0, 2.0, 0.0), (-0.1, 2.0, 0.0), (0.0, 1.0, 1.0), (0.5, 0.0, 0.0), (0.5, 2.0, math.sqrt(0.5)),
     (0.0, -0.0, 0.0), (1e308, 1e308, 0.0), (NAN, 1.0, None), (0.5, INF, None), (-INF, 2.0, None)],
)
def test_steady_state(delta, k, expected):
    if expected is None:
        with pytest.raises(ValueError, match="^delta and k_coupling must be finite$"):
            qk.steady_state_r_oa_rust(delta, k)
    else:
        assert qk.steady_state_r_oa_rust(delta, k) == expected
