"""The boundary observer: messages, inert definitions and soft/hard sorting."""
import math
import random

import pytest

import qel_kernel as qk
from reference import boundaries as ref

INF, NAN = math.inf, math.nan


def observe(defs, values):
    return qk.PyBoundaryObserver().observe(defs, values)


def test_result_keys_and_message_forms():
    got = observe([("r_floor", "R", 0.3, None, "hard"), ("big", "x", None, 1.0, "soft")], {"R": 0.25, "x": 1e20})
    assert list(got) == ["violations", "soft_violations", "hard_violations"]
    first = "r_floor: R=0.2500 outside [Some(0.3), None]"
    second = "big: x=1" + "0" * 20 + ".0000 outside [None, Some(1.0)]"
    assert got == {"violations": [first, second], "soft_violations": [second], "hard_violations": [first]}


@pytest.mark.parametrize(
    "value", [-0.00001, 0.03125, 0.00015, -2.5, 123456.78905, 1.7976931348623157e308, -5e-324, 0.99995]
)
@pytest.mark.parametrize(
    "lower, upper",
    [(1e16, None), (None, -1.5e-5), (None, -2.5e20), (2e300, None), (None, -1e-4), (1e300, 1e300), (None, -1e300)],
)
def test_number_forms_match_reference(value, lower, upper):
    defs = [("n", "m", lower, upper, "soft")]
    assert observe(defs, {"m": value}) == ref.observe(defs, {"m": value})


@pytest.mark.parametrize("value, inside", [(0.0, True), (1.0, True), (-1e-300, False), (1.0000000000000002, False)])
def test_bounds_are_inclusive(value, inside):
    assert (observe([("b", "m", 0.0, 1.0, "hard")], {"m": value})["violations"] == []) == inside
    assert observe([("b", "m", value, value, "hard")], {"m": value})["violations"] == []


@pytest.mark.parametrize(
    "lower, upper",
    [(NAN, None), (None, NAN), (INF, None), (None, -INF), (-INF, INF), (1.0, 0.0)],
)
@pytest.mark.parametrize("value", [NAN, 5.0, -5.0])
def test_unusable_definitions_stay_silent(lower, upper, value):
    assert observe([("b", "m", lower, upper, "hard")], {"m": value})["violations"] == []


def test_missing_metric_and_untrimmed_lookup():
    defs = [("b", "m ", 0.0, 1.0, "hard"), ("c", "absent", 0.0, 1.0, "hard")]
    assert observe(defs, {"m": 5.0})["violations"] == []
    assert observe(defs, {"m ": 5.0})["hard_violations"] == ["b: m =5.0000 outside [Some(0.0), Some(1.0)]"]


@pytest.mark.parametrize("severity, hard", [("hard", True), ("Hard", False), (" hard", False), ("HARD", False),
                                            ("", False), ("soft", False), ("hard\x00", False)])
def test_only_exact_hard_is_hard(severity, hard):
    got = observe([("b", "m", 0.0, None, severity)], {"m": -1.0})
    assert (len(got["hard_violations"]), len(got["soft_violations"])) == ((1, 0) if hard else (0, 1))


@pytest.mark.parametrize("value", [NAN, INF, -INF])
def test_non_finite_value_is_always_hard(value):
    got = observe([("b", "m", None, None, "soft")], {"m": value})
    msg = "b: m is non-finite and treated as hard violation"
    assert got == {"violations": [msg], "soft_violations": [], "hard_violations": [msg]}


def test_order_duplicates_and_embedded_nul():
    defs = [("s\x00x", "a", 0.0, None, "soft"), ("h", "b", None, 0.0, "hard"), ("s\x00x", "a", 0.0, None, "soft")]
    got = observe(defs, {"a": -1, "b": 2})
    soft = "s\x00x: a=-1.0000 outside [Some(0.0), None]"
    hard = "h: b=2.0000 outside [None, Some(0.0)]"
    assert got == {"violations": [soft, hard, soft], "soft_violations": [soft, soft], "hard_violations": [hard]}


def test_empty_inputs():
    empty = {"violations": [], "soft_violations": [], "hard_violations": []}
    assert observe([], {"m": 1.0}) == empty
    assert observe([("b", "m", 0.0, 0.5, "hard")], {}) == empty


def test_random_definitions_match_reference():
    rng = random.Random(7)
    pool = [None, 0.0, -0.0, 0.3, -1.0, 1.0, 2.5e-7, 1e17, NAN, INF]
    defs = [(rng.choice(["a", " ", "n\u2003", ""]), rng.choice(["m", "k", "m ", "\xa0"]), rng.choice(pool),
             rng.choice(pool), rng.choice(["hard", "soft", "Hard"])) for _ in range(300)]
    values = {"m": -0.4999999, "k": NAN, "m ": 3.14159265, "\xa0": 0.0}
    assert observe(defs, values) == ref.observe(defs, values)
