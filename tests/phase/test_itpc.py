"""Inter-trial phase coherence, its persistence over pauses, and frequency specificity."""
import math
import os

import numpy as np
import pytest

import qel_kernel as qk
from reference import signal as ref
from support import internal_error


def first_index_past_end(length, n, t):
    """The first index an unchecked walk (time points outer, trials inner) reads past the end."""
    return next(k * t + j for j in range(t) for k in range(n) if k * t + j >= length)


@pytest.mark.parametrize("n, t", [(2, 5), (17, 40), (64, 600)])
def test_bit_for_bit_against_reference(n, t):
    rng = np.random.default_rng(n * t)
    p = rng.normal(0.0, 4.0, n * t + 3)  # entries beyond N*T are ignored
    assert qk.compute_itpc_rust(p, n, t).tolist() == ref.itpc(p.tolist(), n, t)
    pauses = rng.integers(-3, t + 3, 20)
    assert qk.itpc_persistence_rust(p, n, t, pauses) == ref.itpc_persistence(p.tolist(), n, t, pauses.tolist())
    for target, control in [(10.0, 10.0), (4.0, 9.5)]:
        assert qk.frequency_specificity_rust(p, n, t, target, control) == ref.frequency_specificity(
            p.tolist(), n, t, target, control)


def test_itpc_is_not_clamped():
    # Five equal phases whose rounded mean phasor is longer than 1.
    x = 0.014004668222740914
    assert qk.compute_itpc_rust(np.full(5, x), 5, 1)[0] == ref.itpc([x] * 5, 5, 1)[0] > 1.0


@pytest.mark.parametrize("phases", [np.zeros(0), np.zeros(3), np.array([math.nan])])
def test_one_trial_gives_ones_without_reading(phases):
    assert qk.compute_itpc_rust(phases, 1, 5).tolist() == [1.0] * 5
    assert qk.itpc_persistence_rust(phases, 1, 5, np.array([4, 9])) == 1.0
    # Specificity reads one trial all the same.
    expect = f"index out of bounds: the len is {len(phases)} but the index is {len(phases)}"
    assert internal_error(qk.frequency_specificity_rust, phases, 1, 5, 1.0, 1.0) == expect


@pytest.mark.parametrize("n, t", [(0, 4), (4, 0)])
def test_empty_shapes(n, t):
    assert qk.compute_itpc_rust(np.zeros(0), n, t).tolist() == []
    assert qk.itpc_persistence_rust(np.zeros(0), n, t, np.array([0])) == 0.0
    assert qk.frequency_specificity_rust(np.zeros(0), n, t, 1.0, 2.0) == 0.0


@pytest.mark.parametrize("length, n, t", [(7, 2, 4), (0, 3, 2), (9, 4, 3), (1, 5, 700)])
def test_short_input_names_the_first_index_reached(length, n, t):
    expect = f"index out of bounds: the len is {length} but the index is {first_index_past_end(length, n, t)}"
    p = np.zeros(length)
    assert internal_error(qk.compute_itpc_rust, p, n, t) == expect
    assert internal_error(qk.itpc_persistence_rust, p, n, t, np.array([t + 1])) == expect
    assert internal_error(qk.frequency_specificity_rust, p, n, t, 1.0, 1.0) == expect


def test_sizes_from_counts_are_checked():
    assert internal_error(qk.compute_itpc_rust, np.zeros(0), 1, 2**60) == "capacity overflow"
    # N*T wraps to a small number: the product is never trusted.
    assert "the len is 4 but the index is 4" in internal_error(qk.compute_itpc_rust, np.zeros(4), 2**32, 2**32 + 2)
    assert "the len is 4" in internal_error(qk.frequency_specificity_rust, np.zeros(4), 2**63, 2, 1.0, 1.0)


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""), reason="the sanitizer aborts on huge requests")
def test_failed_allocation_is_memory_error():
    with pytest.raises(MemoryError):
        qk.compute_itpc_rust(np.zeros(0), 1, 2**59)


def test_persistence_index_rules():
    p = np.random.default_rng(2).uniform(0, 6, 12)
    course = qk.compute_itpc_rust(p, 3, 4)
    assert qk.itpc_persistence_rust(p, 3, 4, np.array([-1, 0, 0, 9])) == course[0]
    # No index >= 0: 0.0 without reading the (too short) phases.
    for pauses in ([], [-1, -7]):
        assert qk.itpc_persistence_rust(np.zeros(1), 3, 4, np.array(pauses, dtype=np.int64)) == 0.0
    assert qk.itpc_persistence_rust(p, 3, 4, np.array([4, 99])) == 0.0


A, B = 0.01, 3.1315926535897933  # cos(B) == -cos(A) exactly


@pytest.mark.parametrize("phases, n, target, control, expect", [
    ([0.3, 1.0, 2.0, 0.4], 2, 0.0, 1.0, 0.0),
    ([0.3, 1.0, 2.0, 0.4], 2, 1.0, -2.0, 0.0),
    ([0.0, math.pi / 2], 2, 1.0, 2.0, math.inf),  # rescaled to 0 and pi: B ~ 6e-17
    ([A, -A, B, -B], 4, 1.0, 1.0, 0.0),           # A and B both exactly 0
    ([0.3, 1.0], 1, 1.0, 3.0, 1.0),               # one trial: coherence 1 in both passes
])
def test_specificity_cases(phases, n, target, control, expect):
    t = len(phases) // n
    assert qk.frequency_specificity_rust(np.array(phases), n, t, target, control) == expect


@pytest.mark.parametrize("target, control", [(math.nan, 1.0), (1.0, math.nan)])
def test_specificity_nan_frequency_passes_the_checks(target, control):
    assert math.isnan(qk.frequency_specificity_rust(np.array([0.1, 0.5]), 2, 1, target, control))
