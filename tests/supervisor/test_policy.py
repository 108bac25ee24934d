"""The supervisor policy's decisions."""
import math
import random

import pytest

import qel_kernel as qk
from reference import regime as ref

DEGRADED = {"knob": "K", "scope": "global", "value": 0.05, "ttl_s": 10.0,
            "justification": "degraded: boost global coupling"}
RECOVERY = {"knob": "K", "scope": "global", "value": 0.025, "ttl_s": 15.0,
            "justification": "recovery: gradual coupling restore"}
ZETA = {"knob": "zeta", "scope": "global", "value": 0.1, "ttl_s": 5.0, "justification": "critical: increase damping"}
WEAK0, WEAK1 = ({"knob": "K", "scope": f"layer_{i}", "value": -0.03, "ttl_s": 5.0,
                 "justification": f"critical: reduce coupling on layer {i}"} for i in (0, 1))


@pytest.mark.parametrize("rs, hard, expected", [
    ([0.9, 0.8], [], []), ([0.5], [], [DEGRADED]), ([0.2, 0.1, 0.1], [], [ZETA, WEAK1]), ([], [], [ZETA]),
    ([0.9], ["x"], [ZETA, WEAK0]),
])
def test_first_decision(rs, hard, expected):
    got = qk.PySupervisorPolicy().decide(rs, hard)
    assert got == expected
    assert all(list(d) == ["knob", "scope", "value", "ttl_s", "justification"] for d in got)


@pytest.mark.parametrize("bad", [[1.2], [math.nan], [0.5, math.inf]])
def test_invalid_values_do_not_advance_the_manager(bad):
    p = qk.PySupervisorPolicy(cooldown_steps=3)
    assert p.decide([0.5], []) == [DEGRADED]  # commit at step 1
    assert [p.decide(bad, []) for _ in range(5)] == [[]] * 5
    # Steps 2 and 3 are within the cooldown, step 4 commits nominal.
    assert [p.decide([0.9], []) for _ in range(3)] == [[DEGRADED], [DEGRADED], []]


def test_cooldown_path_back_from_critical():
    p = qk.PySupervisorPolicy()
    # Critical at step 1; recovery is proposed but waits until step 11; then nominal waits again.
    assert [p.decide(rs, []) for rs in [[0.1]] + [[0.9]] * 11] == [[ZETA, WEAK0]] * 10 + [[RECOVERY]] * 2


@pytest.mark.parametrize("cooldown", [0, 2, 10])
def test_random_decisions_match_reference(cooldown):
    rng = random.Random(cooldown)
    for h in (-1.0, 0.05, 0.2):
        ours, theirs = qk.PySupervisorPolicy(h, cooldown), ref.SupervisorPolicy(h, cooldown)
        for _ in range(300):
            rs = [rng.choice([rng.random(), 0.3, 0.6, 0.05, 1.1, math.nan]) for _ in range(rng.randrange(5))]
            hard = ["x"] if rng.random() < 0.05 else []
            assert ours.decide(rs, hard) == theirs.decide(rs, hard)
