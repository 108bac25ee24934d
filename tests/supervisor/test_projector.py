import inspect
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


@pytest.mark.parametrize(
    "rate, bounds, value, previous, expected",
    [
        (None, None, 3.5, 0.0, 3.5),
        (None, (0.0, 1.0), 2.0, 0.5, 1.0),
        (None, (0.0, 1.0), -1.0, 0.5, 0.0),
        (0.1, (0.0, 1.0), 0.9, 0.5, 0.6),
        (0.1, (0.0, 1.0), 0.55, 0.5, 0.55),
        (0.1, (0.0, 1.0), 0.0, 0.5, 0.4),
        (0.1, (0.0, 1.0), 0.8, 1.5, 1.0),  # previous outside the bounds
        (0.1, None, -7.0, 2.0, 1.9),
        (0.0, (0.0, 1.0), 0.9, 0.5, 0.5),
        (-0.0, (0.0, 1.0), 0.9, 0.5, 0.5),
        (0.0, (0.0, 1.0), 0.9, 3.0, 1.0),
        (-0.5, (0.0, 1.0), 0.9, 0.25, 0.25),
        (NAN, (0.0, 1.0), 0.9, 0.25, 0.25),
        (INF, (0.0, 1.0), 0.9, -2.0, 0.0),
        (-INF, None, 0.9, 0.25, 0.25),
        (0.1, (2.0, 2.0), 0.0, 0.0, 2.0),
    ],
)
def test_worked_examples(rate, bounds, value, previous, expected):
    got = projector(rate, bounds).project("K", value, previous)
    assert got == pytest.approx(expected, abs=1e-15)
    assert got == ref.project(rate, bounds, value, previous)


@pytest.mark.parametrize("rate", [None, 0.1, 0.0, NAN])
@pytest.mark.parametrize(
    "bounds, value, previous",
    [
        ((1.0, 0.0), 0.5, 0.5),
        ((NAN, 1.0), 0.5, 0.5),
        ((0.0, NAN), 0.5, 0.5),
        ((0.0, 1.0), NAN, 0.5),
        ((0.0, 1.0), 0.5, INF),
        (None, -INF, 0.5),
        (None, 0.5, NAN),
    ],
)
def test_degenerate_cases_give_zero(rate, bounds, value, previous):
    assert projector(rate, bounds).project("K", value, previous) == 0.0


@pytest.mark.parametrize("rate", [None, 0.1, 0.0, -1.0, NAN, INF])
@pytest.mark.parametrize("pin", [INF, -INF])
@pytest.mark.parametrize("value, previous", [(0.0, 0.0), (1e308, -1e308), (-3.0, 5.0)])
def test_equal_infinite_bounds_pin_the_knob_there(rate, pin, value, previous):
    # A one-point interval at infinity projects every value onto that point.
    assert projector(rate, (pin, pin)).project("K", value, previous) == pin


@pytest.mark.parametrize("seed", range(3))
def test_matches_reference_on_a_grid(seed):
    values = [-2.0, -0.3, 0.0, 0.05, 0.5, 0.95, 1.0, 1.7, -INF, NAN]
    rates = [None, 0.0, 0.1, 0.45, 2.0, -0.1, NAN]
    bounds = [None, (0.0, 1.0), (-1.0, -0.5), (0.5, 0.5), (0.2, -INF), (-INF, 0.3)]
    for rate, b in itertools.product(rates[seed::3], bounds):
        p = projector(rate, b, knob="Psi")
        for v, prev in itertools.product(values, values):
            got = p.project("Psi", v, prev)
            assert got == ref.project(rate, b, v, prev)
            assert not math.isnan(got)


def test_tables_are_per_knob():
    p = qk.PyActionProjector({"alpha": 0.1, "zeta": 0.0}, {"K": (0.0, 1.0), "Psi": (-1.0, -1.0)})
    assert p.project("K", 5.0, 0.0) == 1.0
    assert p.project("alpha", 5.0, 0.0) == 0.1
    assert p.project("zeta", 5.0, 0.25) == 0.25
    assert p.project("Psi", 5.0, 0.0) == -1.0


@pytest.mark.parametrize("knob", ["k", "ALPHA", "psi", "", " zeta", "K\0"])
def test_unknown_knob_raises(knob):
    with pytest.raises(ValueError) as info:
        qk.PyActionProjector({}, {}).project(knob, 1.0, 0.0)
    assert str(info.value) == "unknown knob: " + knob


@pytest.mark.parametrize(
    "args, exc, name",
    [
        ((1, 1.0, 0.0), TypeError, "knob"),
        (("K", "1", 0.0), TypeError, "value"),
        (("K", 1.0, None), TypeError, "previous_value"),
        (("k", None, 0.0), TypeError, "value"),  # conversion before the knob check
    ],
)
def test_project_conversion_errors(args, exc, name):
    with pytest.raises(exc) as info:
        qk.PyActionProjector({}, {}).project(*args)
    assert info.value.__notes__ == [f"while processing '{name}'"]


def test_one_warning_per_unknown_key_rates_first():
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        p = qk.PyActionProjector({"K": 0.1, "beta": 1.0}, {"gamma": (0.0, 1.0), "K": (0.0, 1.0), 'a"b\n': (0, 1)})
    messages = [str(w.message) for w in caught]
    assert all(w.category is UserWarning for w in caught)
    assert messages[0] == 'PyActionProjector: ignoring unknown knob "beta" in rate_limits'
    assert sorted(messages[1:]) == sorted(
        [
            'PyActionProjector: ignoring unknown knob "gamma" in value_bounds',
            'PyActionProjector: ignoring unknown knob "a\\"b\\n" in value_bounds',
        ]
    )
    assert p.project("K", 0.9, 0.5) == 0.6


def test_construction_survives_warnings_as_errors():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        p = qk.PyActionProjector({"x": 1.0, "K": 0.1}, {"y": (0.0, 1.0), "K": (0.0, 1.0)})
    assert p.project("K", 0.9, 0.5) == 0.6


@pytest.mark.parametrize(
    "rate_limits, value_bounds, exc, name",
    [
        ([("K", 0.1)], {}, TypeError, "rate_limits"),
        ({1: 0.1}, {}, TypeError, "rate_limits"),
        ({"K": "fast"}, {}, TypeError, "rate_limits"),
        ({}, {"K": [0.0, 1.0]}, TypeError, "value_bounds"),
        ({}, {"K": (0.0, 1.0, 2.0)}, ValueError, "value_bounds"),
        ({}, {"K": (0.0, None)}, TypeError, "value_bounds"),
        ({"K": None}, {"K": None}, TypeError, "rate_limits"),
    ],
)
def test_constructor_conversion_errors(rate_limits, value_bounds, exc, name):
    with pytest.raises(exc) as info:
        qk.PyActionProjector(rate_limits, value_bounds)
    assert info.value.__notes__ == [f"while processing '{name}'"]


def test_integers_convert_and_signatures():
    p = qk.PyActionProjector(rate_limits={"K": 1}, value_bounds={"K": (0, 10)})
    assert p.project(knob="K", value=5, previous_value=3) == 4.0
    assert str(inspect.signature(qk.PyActionProjector)) == "(rate_limits, value_bounds)"
    assert str(inspect.signature(qk.PyActionProjector.project)) == "(self, /, knob, value, previous_value)"
