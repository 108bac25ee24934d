import itertools
import math
import warnings

import pytest

import qel_kernel as qk
from reference import projector as ref

NAN = float("nan")
INF = float("inf")


def projector(rate=None, bounds=None, knob="K"):
    return qk.PyActionProjector({} if rate is None else {knob: rate}, {} if bounds is None else {knob: bounds})


@pytest.mark.parametrize("rate, bounds, value, previous, expected", [
    (None, (0.0, 1.0), -1.0, 0.5, 0.0), (0.1, (0.0, 1.0), 0.9, 0.5, 0.6),
    (0.1, (0.0, 1.0), 0.8, 1.5, 1.0),  # previous outside the bounds
    (0.1, None, -7.0, 2.0, 1.9), (-0.0, (0.0, 1.0), 0.9, 0.5, 0.5), (NAN, (0.0, 1.0), 0.9, 0.25, 0.25),
    (INF, (0.0, 1.0), 0.9, -2.0, 0.0), (0.1, (2.0, 2.0), 0.0, 0.0, 2.0),
])
def test_worked_examples(rate, bounds, value, previous, expected):
    got = projector(rate, bounds).project("K", value, previous)
    assert got == pytest.approx(expected, abs=1e-15)
    assert got == ref.project(rate, bounds, value, previous)


def expected(rate, bounds, v, p):
    # A one-point interval at an infinity is as unusable as an inverted one.
    if bounds is not None and bounds[0] == bounds[1] and math.isinf(bounds[0]):
        return 0.0
    return ref.project(rate, bounds, v, p)


def test_matches_reference_on_a_grid():
    # Degenerate cases included: inverted, NaN or infinite one-point bounds and non-finite values give 0.0;
    # the largest values and rates must not overflow to an infinite result.
    values = [-2.0, -0.3, 0.0, 0.05, 0.5, 0.95, 1.0, 1.7, -1.7e308, 1.7e308, -INF, INF, NAN]
    rates = [None, 0.0, 0.1, 0.45, 2.0, 1e308, -0.1, NAN]
    bounds = [None, (0.0, 1.0), (-1.0, -0.5), (0.5, 0.5), (0.2, -INF), (-INF, 0.3), (1.0, 0.0), (NAN, 1.0),
              (0.0, NAN), (INF, INF), (-INF, -INF), (1e308, INF), (-INF, -1e308)]
    for rate, b in itertools.product(rates, bounds):
        p = projector(rate, b, knob="Psi")
        for v, prev in itertools.product(values, values):
            got = p.project("Psi", v, prev)
            assert got == expected(rate, b, v, prev)
            assert math.isfinite(got)


def test_tables_are_per_knob():
    p = qk.PyActionProjector({"alpha": 0.1, "zeta": 0.0}, {"K": (0.0, 1.0), "Psi": (-1.0, -1.0)})
    assert p.project("K", 5.0, 0.0) == 1.0
    assert p.project("alpha", 5.0, 0.0) == 0.1
    assert p.project("zeta", 5.0, 0.25) == 0.25
    assert p.project("Psi", 5.0, 0.0) == -1.0


@pytest.mark.parametrize("knob", ["k", "K\0"])
def test_unknown_knob_raises(knob):
    with pytest.raises(ValueError) as info:
        qk.PyActionProjector({}, {}).project(knob, 1.0, 0.0)
    assert str(info.value) == "unknown knob: " + knob


def test_one_warning_per_unknown_key_rates_first():
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        p = qk.PyActionProjector({"K": 0.1, "beta": 1.0}, {"gamma": (0.0, 1.0), "K": (0.0, 1.0), 'a"b\n': (0, 1)})
    messages = [str(w.message) for w in caught]
    assert all(w.category is UserWarning for w in caught)
    assert messages[0] == 'PyActionProjector: ignoring unknown knob "beta" in rate_limits'
    assert sorted(messages[1:]) == sorted([
        'PyActionProjector: ignoring unknown knob "gamma" in value_bounds',
        'PyActionProjector: ignoring unknown knob "a\\"b\\n" in value_bounds',
    ])
    assert p.project("K", 0.9, 0.5) == 0.6


def test_construction_survives_warnings_as_errors():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        p = qk.PyActionProjector({"x": 1.0, "K": 0.1}, {"y": (0.0, 1.0), "K": (0.0, 1.0)})
    assert p.project("K", 0.9, 0.5) == 0.6
