"""Transition qualities and the phase quality scorer."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import quality as ref

NAN, INF = math.nan, math.inf


@pytest.mark.parametrize("step, n, expected", [
    (0, 10, 0.2), (1, 0, 1.0), (2, 0, 0.1), (5, 10, 0.6), (11, 10, 0.1), (2, 1, 0.1), (2**64 - 1, 2**64 - 1, 0.1),
    (3, 2**64 - 1, 1.0),
])
def test_transition_quality(step, n, expected):
    assert qk.transition_quality(step, n) == expected


@pytest.mark.parametrize("s, n, initial, expected", [
    ([3, 3, 4, 7], 10, 0.5, [0.5, 0.2, 1.0, 0.8]),
    ([-2**63, 2**63 - 1], 5, -3.0, [-3.0, 0.1]),  # the step 2^64 - 1 is exact
    ([], 3, 0.0, []),
])
def test_transition_qualities(s, n, initial, expected):
    assert qk.transition_qualities_rust(np.array(s, dtype=np.int64), n, initial).tolist() == expected


FINITE, LAYOUT = "initial_quality must be a finite float", "The given array is not contiguous or is misaligned."


@pytest.mark.parametrize("indices, initial, message", [
    (np.zeros(0, dtype=np.int64), NAN, FINITE), (np.arange(6)[::2], INF, FINITE),
    (np.arange(6)[::2], 0.5, LAYOUT),
])
def test_initial_quality_is_checked_before_the_layout(indices, initial, message):
    with pytest.raises(ValueError) as e:
        qk.transition_qualities_rust(indices, 3, initial)
    assert str(e.value) == message


DEFAULT = qk.PyPhaseQualityScorer()


@pytest.mark.parametrize("method, args, expected", [
    ("score", ([1.0, 0.5], [1, 3]), 0.625),
    ("score", ([0.8, NAN], [1, 5]), 0.8),
    ("score", ([0.8, 0.4], [1]), 0.8),
    ("score", ([], [1]), 0.0),
    ("is_collapsed", ([0.05, 0.2],), False),  # exactly half is no collapse
    ("is_collapsed", ([0.1, 0.1, 0.05],), False),  # equal to the threshold is not below it
    ("is_collapsed", ([],), True),
    ("downweight_mask", ([0.2, 0.3, 1.5, NAN, -INF],), [0.0, 0.3, 1.0, 0.0, 0.0]),
    ("downweight_mask", ((0.9, 0.1),), [0.9, 0.0]),
])
def test_default_scorer(method, args, expected):
    got = getattr(DEFAULT, method)(*args)
    assert got == expected and type(got) is type(expected)


@pytest.mark.parametrize("seed", range(8))
def test_scorer_matches_reference(seed):
    # Non-finite thresholds give neutral answers: score 0.0, collapsed, an all-zero mask.
    rng = np.random.default_rng(seed)
    ct, mq = rng.choice([NAN, INF, -INF, 0.1, 0.3, 0.6], 2)
    q = rng.choice([NAN, INF, -0.5, 0.0, 0.05, 0.3, 0.7, 1.0, 1.4], int(rng.integers(0, 30))).tolist()
    a = rng.choice([NAN, -1.0, 0.0, 1e-13, 0.5, 3.0], int(rng.integers(0, 30))).tolist()
    s = qk.PyPhaseQualityScorer(ct, mq)
    assert s.score(q, np.array(a)) == ref.score(q, a, ct, mq)
    assert s.is_collapsed(tuple(q)) == ref.is_collapsed(q, ct)
    assert s.downweight_mask(q) == ref.downweight_mask(q, mq)
