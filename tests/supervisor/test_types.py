"""Regime names and parsing, blank text, and state validation as the supervisor classes expose them."""
import math

import pytest

import qel_kernel as qk


@pytest.mark.parametrize("method", ["transition", "force_transition"])
@pytest.mark.parametrize("text", ["Nominal", "nominal ", "crit\x00ical"])
def test_unknown_regime_is_refused_before_any_change(method, text):
    rm = qk.PyRegimeManager(cooldown_steps=0)
    with pytest.raises(ValueError) as e:
        getattr(rm, method)(text)
    assert str(e.value) == "unknown regime: " + text
    # The refused call did not count as a request: the next commit is step 1.
    rm.force_transition("critical")
    assert rm.transition_log == [(1, "nominal", "critical")]


@pytest.mark.parametrize("label, blank", [
    (" \t\n\r\v\f\x85\xa0\u1680\u2000\u200a\u2028\u2029\u202f\u205f\u3000", True),
    ("\u200b", False),  # zero-width space is not white space
    ("\x1c\x1d\x1e\x1f", False),  # separators that str.isspace counts, Unicode does not
    ("\x00", False),
])
def test_blank_names_follow_unicode_white_space(label, blank):
    obs = qk.PyBoundaryObserver()
    for defs in ([(label, "m", 1.0, None, "hard")], [("b", label, 1.0, None, "hard")]):
        got = obs.observe(defs, {label: 0.0, "m": 0.0})
        assert (got["violations"] == []) == blank


@pytest.mark.parametrize("rs, valid", [
    ([], True), ([-0.0], True), ([-0.1], False), ([1.0000000000000002], False), ([math.nan], False),
])
def test_policy_acts_only_on_valid_states(rs, valid):
    # Each valid case here is below nominal, so acting shows it was evaluated.
    assert (qk.PySupervisorPolicy().decide(rs, []) != []) == valid
