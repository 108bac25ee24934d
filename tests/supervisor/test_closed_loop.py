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


def test_loop_leaves_critical(run):
    history, log = run
    regimes = [h["regime"] for h in history]
    assert regimes[0] == "critical"
    assert history[-1]["regime"] != "critical"
    assert any(frm == "critical" for _, frm, _ in log) and log[-1][2] == history[-1]["regime"]
    assert history[-1]["R"] > history[0]["R"]
    assert all(math.isfinite(h["R"]) for h in history)
