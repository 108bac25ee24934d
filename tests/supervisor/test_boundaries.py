"""The boundary observer: messages, inert definitions and soft/hard sorting."""
import math
import random

import pytest

import qel_kernel as qk
from reference import boundaries as ref

INF, NAN = math.inf, math.nan
observe = qk.PyBoundaryObserver().observe


def test_message_forms_order_duplicates_and_embedded_nul():
    defs = [("r_floor", "R", 0.3, None, "hard"), ("big\x00", "x", None, 1.0, "soft"), ("nf", "k", 0.0, 1.0, "soft"),
            ("r_floor", "R", 0.3, None, "hard"), ("t", "m ", 0.0, 1.0, "hard"), ("c", "absent", 0.0, 1.0, "hard")]
    got = observe(defs, {"R": 0.25, "x": 1e20, "k": -INF, "m": 5.0})
    assert list(got) == ["violations", "soft_violations", "hard_violations"]
    first = "r_floor: R=0.2500 outside [Some(0.3), None]"
    big = "big\x00: x=1" + "0" * 20 + ".0000 outside [None, Some(1.0)]"
    nf = "nf: k is non-finite and treated as hard violation"
    assert got == {"violations": [first, big, nf, first], "soft_violations": [big],
                   "hard_violations": [first, nf, first]}
    # The metric is looked up untrimmed.
    assert observe(defs[4:], {"m ": 5.0})["hard_violations"] == ["t: m =5.0000 outside [Some(0.0), Some(1.0)]"]
    empty = {"violations": [], "soft_violations": [], "hard_violations": []}
    assert observe([], {"m": 1.0}) == empty and observe(defs, {}) == empty


def test_definitions_match_reference():
    # A grid of value and bound forms, then random definitions, blank and inert ones among them.
    forms = [-0.00001, 0.03125, 0.00015, -2.5, 123456.78905, 1.7976931348623157e308, -5e-324, 0.99995]
    bounds = [(1e16, None), (None, -1.5e-5), (None, -2.5e20), (2e300, None), (None, -1e-4), (1e300, 1e300),
              (None, -1e300)]
    defs = [(f"n{i}", f"v{j}", lo, up, "soft") for i, (lo, up) in enumerate(bounds) for j in range(len(forms))]
    values = {f"v{j}": v for j, v in enumerate(forms)} | {"m": -0.4999999, "k": NAN, "m ": 3.14159265, "\xa0": 0.0}
    rng = random.Random(7)
    pool = [None, 0.0, -0.0, 0.3, -1.0, 1.0, 2.5e-7, 1e17, NAN, INF]
    defs += [(rng.choice(["a", " ", "n\u2003", ""]), rng.choice(["m", "k", "m ", "\xa0"]), rng.choice(pool),
              rng.choice(pool), rng.choice(["hard", "soft", "Hard"])) for _ in range(300)]
    assert observe(defs, values) == ref.observe(defs, values)


@pytest.mark.parametrize("lower, upper, severity, value, kind", [
    (1.0, 1.0, "hard", 1.0, None), (0.0, 1.0, "hard", 1.0000000000000002, "hard"),  # inclusive
    (0.0, None, "Hard", -1.0, "soft"), (0.0, None, "hard\x00", -1.0, "soft"),
    (None, None, "soft", INF, "hard"),  # non-finite value: always hard
    (None, NAN, "hard", 5.0, None), (INF, None, "hard", -5.0, None), (1.0, 0.0, "soft", NAN, None),  # inert
])
def test_single_definition(lower, upper, severity, value, kind):
    got = observe([("b", "m", lower, upper, severity)], {"m": value})
    assert [k for k in ("soft", "hard") for _ in got[f"{k}_violations"]] == ([kind] if kind else [])
    assert len(got["violations"]) == (kind is not None)
