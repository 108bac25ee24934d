"""The closed loop of the demo: stepper, measures, policy, projector together."""
import math
import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "examples"))
closed_loop = pytest.importorskip("closed_loop")


@pytest.fixture(scope="module")
def run():
    return closed_loop.run_loop(cycles=20)


def test_projected_values_respect_bounds_and_rates(run):
    history, _ = run
    checked = 0
    for h in history:
        for knob, new, prev in h["projections"]:
            lo, hi = closed_loop.BOUNDS[knob]
            assert lo <= new <= hi
            assert abs(new - prev) <= closed_loop.RATES[knob] + 1e-12
            checked += 1
    assert checked > len(history)


def test_transition_log_is_consistent(run):
    history, log = run
    assert log, "the loop never changed regime"
    steps = [step for step, _, _ in log]
    assert steps == sorted(steps) and len(set(steps)) == len(steps)
    assert log[0][1] == "nominal"
    for (_, _, to), (_, frm, _) in zip(log, log[1:]):
        assert frm == to
    assert log[-1][2] == history[-1]["regime"]


def test_loop_leaves_critical(run):
    history, log = run
    regimes = [h["regime"] for h in history]
    assert regimes[0] == "critical"
    assert history[-1]["regime"] != "critical"
    assert any(frm == "critical" for _, frm, _ in log)
    assert history[-1]["R"] > history[0]["R"]
    assert all(math.isfinite(h["R"]) for h in history)


def test_same_output_every_run():
    a, log_a = closed_loop.run_loop(cycles=6)
    b, log_b = closed_loop.run_loop(cycles=6)
    assert [h["R"] for h in a] == [h["R"] for h in b]
    assert [h["actions"] for h in a] == [h["actions"] for h in b]
    assert log_a == log_b
