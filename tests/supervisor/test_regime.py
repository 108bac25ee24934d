"""The regime manager's evaluation, brakes and transition log."""
import math
import random

import pytest

import qel_kernel as qk
from reference import regime as ref

NAN, INF = math.nan, math.inf


def manager_in(regime, **kw):
    rm = qk.PyRegimeManager(**kw)
    rm.force_transition(regime)
    return rm


def test_new_manager():
    rm = qk.PyRegimeManager()
    assert (rm.current, rm.transition_log) == ("nominal", [])


@pytest.mark.parametrize(
    "current, rs, hard, expected",
    [
        ("nominal", [], [], "critical"),
        ("nominal", [0.3], [], "degraded"),
        ("nominal", [0.29999999999999993], [], "critical"),
        ("nominal", [0.6], [], "nominal"),
        ("nominal", [0.9], ["x"], "critical"),
        ("nominal", [NAN], [], "critical"),
        ("nominal", [INF, 1.0], [], "critical"),
        ("nominal", [0.62], [], "nominal"),
        ("degraded", [0.62], [], "degraded"),
        ("degraded", [0.65], [], "nominal"),  # R = 0.6 + hysteresis leaves
        ("degraded", [0.7], [], "nominal"),
        ("critical", [1.0], [], "recovery"),
        ("critical", [0.35], [], "recovery"),
        ("recovery", [0.62], [], "recovery"),
        ("recovery", [0.5], [], "recovery"),
        ("recovery", [0.7], [], "nominal"),
        ("recovery", [0.2, 5.0], [], "nominal"),  # no validation: the mean 2.6 counts
    ],
)
def test_evaluate(current, rs, hard, expected):
    rm = manager_in(current)
    log = rm.transition_log
    assert rm.evaluate(rs, hard) == expected
    assert rm.transition_log == log and rm.current == current


@pytest.mark.parametrize("h", [-1.0, NAN, INF, -INF, -1e-300])
def test_unusable_hysteresis_is_zero(h):
    assert manager_in("degraded", hysteresis=h).evaluate([0.6], []) == "nominal"
    assert manager_in("degraded", hysteresis=0.05).evaluate([0.6], []) == "degraded"


def test_default_cooldown():
    rm = qk.PyRegimeManager()
    assert rm.transition("degraded") == "degraded"
    assert rm.transition_log == [(1, "nominal", "degraded")]
    for _ in range(9):  # steps 2..10 are within the cooldown
        assert rm.transition("nominal") == "degraded"
    assert rm.transition("nominal") == "nominal"
    assert rm.transition_log[-1] == (11, "degraded", "nominal")


def test_critical_skips_hold_and_cooldown():
    rm = qk.PyRegimeManager(cooldown_steps=1000, hysteresis_hold_steps=50)
    rm.force_transition("recovery")
    assert rm.transition("critical") == "critical"
    assert rm.transition("degraded") == "critical"  # de-escalation still waits


def test_hold_counts_consecutive_escalations():
    rm = qk.PyRegimeManager(cooldown_steps=0, hysteresis_hold_steps=3)
    assert [rm.transition("degraded") for _ in range(2)] == ["nominal", "nominal"]
    assert rm.transition("nominal") == "nominal"  # resets the count
    assert [rm.transition("degraded") for _ in range(3)] == ["nominal", "nominal", "degraded"]
    assert rm.transition("nominal") == "nominal"  # de-escalation is never held


def test_passed_hold_survives_cooldown():
    rm = qk.PyRegimeManager(cooldown_steps=5, hysteresis_hold_steps=2)
    rm.force_transition("degraded")  # step 1
    rm.force_transition("nominal")  # step 2
    assert rm.transition("degraded") == "nominal"  # step 3: held (1 < 2)
    assert rm.transition("degraded") == "nominal"  # step 4: hold passed, cooldown stops it
    assert rm.transition("degraded") == "nominal"  # step 5: still cooling
    assert rm.transition("recovery") == "nominal"  # step 6: escalation, 4 < 5
    assert rm.transition("recovery") == "recovery"  # step 7: 5 is not < 5
    assert rm.transition_log[-1] == (7, "nominal", "recovery")


def test_force_transition():
    rm = qk.PyRegimeManager()
    assert rm.force_transition("nominal") == "nominal"
    assert rm.transition_log == []
    rm.transition("degraded")  # step 2
    assert rm.force_transition("recovery") == "recovery"  # inside the cooldown
    assert rm.transition_log == [(2, "nominal", "degraded"), (3, "degraded", "recovery")]


def test_log_keeps_last_hundred():
    rm = qk.PyRegimeManager()
    for i in range(101):
        rm.force_transition(["degraded", "nominal"][i % 2])
    log = rm.transition_log
    assert len(log) == 100
    assert log[0] == (2, "degraded", "nominal") and log[-1] == (101, "nominal", "degraded")


@pytest.mark.parametrize("seed", range(4))
def test_random_requests_match_reference(seed):
    rng = random.Random(seed)
    kw = dict(hysteresis=rng.choice([0.0, 0.05, 0.3]), cooldown_steps=rng.choice([0, 1, 3, 10]),
              hysteresis_hold_steps=rng.choice([0, 1, 2, 4]))
    ours, theirs = qk.PyRegimeManager(**kw), ref.RegimeManager(**kw)
    for _ in range(400):
        op = rng.random()
        if op < 0.4:
            rs = [rng.choice([rng.random(), 0.3, 0.6, 0.65]) for _ in range(rng.randrange(4))]
            hard = ["x"] if rng.random() < 0.1 else []
            proposed = theirs.evaluate(rs, hard)
            assert ours.evaluate(rs, hard) == proposed
        else:
            proposed = rng.choice(list(ref.SEVERITY))
        method = "force_transition" if op > 0.95 else "transition"
        assert getattr(ours, method)(proposed) == getattr(theirs, method)(proposed)
    assert ours.transition_log == theirs.log


def test_docstrings():
    cls = qk.PyRegimeManager
    assert cls.evaluate.__doc__.endswith("Evaluate regime from layer R values and boundary violations.")
    assert cls.transition.__doc__.endswith("Apply transition with cooldown/hysteresis. Returns actual regime string.")
    assert cls.force_transition.__doc__.endswith("Bypass cooldown and hysteresis hold \u2014 event-driven triggers.")
