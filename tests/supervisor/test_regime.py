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


@pytest.mark.parametrize("current, rs, hard, expected", [
    ("nominal", [], [], "critical"), ("nominal", [0.3], [], "degraded"),
    ("nominal", [0.29999999999999993], [], "critical"), ("nominal", [0.9], ["x"], "critical"),
    ("nominal", [NAN], [], "critical"), ("nominal", [INF, 1.0], [], "critical"), ("degraded", [0.62], [], "degraded"),
    ("degraded", [0.65], [], "nominal"),  # R = 0.6 + hysteresis leaves
    ("critical", [1.0], [], "recovery"), ("recovery", [0.62], [], "recovery"),
    ("recovery", [0.2, 5.0], [], "nominal"),  # no validation: the mean 2.6 counts
])
def test_evaluate(current, rs, hard, expected):
    rm = manager_in(current)
    log = rm.transition_log
    assert rm.evaluate(rs, hard) == expected
    assert rm.transition_log == log and rm.current == current


@pytest.mark.parametrize("h", [-1e-300, NAN, INF])
def test_unusable_hysteresis_is_zero(h):
    assert manager_in("degraded", hysteresis=h).evaluate([0.6], []) == "nominal"
    assert manager_in("degraded", hysteresis=0.05).evaluate([0.6], []) == "degraded"


def requests(rm, *proposals):
    return [rm.transition(p) for p in proposals]


def test_default_cooldown_force_transition_and_log_of_a_hundred():
    rm = qk.PyRegimeManager()
    assert (rm.current, rm.transition_log) == ("nominal", [])
    # Commit at step 1; steps 2..10 are within the cooldown, step 11 commits.
    assert requests(rm, "degraded", *["nominal"] * 10) == ["degraded"] * 10 + ["nominal"]
    assert rm.transition_log == [(1, "nominal", "degraded"), (11, "degraded", "nominal")]
    # Forcing the current regime counts a step but logs nothing; another regime commits inside the cooldown.
    assert rm.force_transition("nominal") == "nominal" and len(rm.transition_log) == 2  # step 12
    assert rm.force_transition("recovery") == "recovery"
    assert rm.transition_log[-1] == (13, "nominal", "recovery")
    for i in range(98):
        rm.force_transition(["degraded", "nominal"][i % 2])
    log = rm.transition_log
    assert len(log) == 100 and log[0] == (11, "degraded", "nominal") and log[-1] == (111, "degraded", "nominal")


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
