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


def weak(i):
    return {"knob": "K", "scope": f"layer_{i}", "value": -0.03, "ttl_s": 5.0,
            "justification": f"critical: reduce coupling on layer {i}"}


@pytest.mark.parametrize(
    "rs, hard, expected",
    [
        ([0.9, 0.8], [], []),
        ([0.5], [], [DEGRADED]),
        ([0.2, 0.1, 0.1], [], [ZETA, weak(1)]),
        ([], [], [ZETA]),
        ([0.9], ["x"], [ZETA, weak(0)]),
        ([0.0, 1.0, 0.0, 0.0], ["a", "b"], [ZETA, weak(0)]),
    ],
)
def test_first_decision(rs, hard, expected):
    got = qk.PySupervisorPolicy().decide(rs, hard)
    assert got == expected
    assert all(list(d) == ["knob", "scope", "value", "ttl_s", "justification"] for d in got)


@pytest.mark.parametrize("bad", [[1.2], [-0.1], [math.nan], [0.5, math.inf]])
def test_invalid_values_do_not_advance_the_manager(bad):
    p = qk.PySupervisorPolicy(cooldown_steps=3)
    assert p.decide([0.5], []) == [DEGRADED]  # commit at step 1
    for _ in range(5):
        assert p.decide(bad, []) == []
    assert p.decide([0.9], []) == [DEGRADED]  # step 2: 1 < 3
    assert p.decide([0.9], []) == [DEGRADED]  # step 3
    assert p.decide([0.9], []) == []  # step 4: nominal


def test_cooldown_path_back_from_critical():
    p = qk.PySupervisorPolicy()
    assert p.decide([0.1], []) == [ZETA, weak(0)]  # step 1
    for _ in range(9):
        assert p.decide([0.9], []) == [ZETA, weak(0)]  # recovery proposed, cooling down
    assert p.decide([0.9], []) == [RECOVERY]  # step 11
    assert p.decide([0.9], []) == [RECOVERY]  # nominal proposed, cooling down again


def test_no_cooldown_commits_every_change():
    p = qk.PySupervisorPolicy(cooldown_steps=0)
    seq = [[0.1], [0.9], [0.9], [0.5], [0.1]]
    assert [p.decide(rs, []) for rs in seq] == [[ZETA, weak(0)], [RECOVERY], [], [DEGRADED], [ZETA, weak(0)]]


@pytest.mark.parametrize("seed", range(3))
def test_random_decisions_match_reference(seed):
    rng = random.Random(seed)
    h, c = rng.choice([-1.0, 0.0, 0.05, 0.2]), rng.choice([0, 2, 10])
    ours, theirs = qk.PySupervisorPolicy(h, c), ref.SupervisorPolicy(h, c)
    for _ in range(300):
        rs = [rng.choice([rng.random(), 0.3, 0.6, 0.05, 1.1, math.nan]) for _ in range(rng.randrange(5))]
        hard = ["x"] if rng.random() < 0.05 else []
        assert ours.decide(rs, hard) == theirs.decide(rs, hard)
