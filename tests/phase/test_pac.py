"""Phase-amplitude coupling: the modulation index and the PAC matrix of a network."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import signal as ref

from support import TWO_PI, internal_error
CENTRES = [(b + 0.5) * TWO_PI / 4 for b in range(4)]


def mi(theta, amp, n_bins):
    return qk.pac_modulation_index(np.array(theta, dtype=float), np.array(amp, dtype=float), n_bins)


@pytest.mark.parametrize("theta, amp, n_bins, expect", [
    (CENTRES, [1, 1, 1, 1], 4, 0.0),
    (CENTRES, [1, 1, 0, 0], 4, 0.5),
    # -0.1 lies in the last bin, 7.0 in the bin of 7.0 - 2pi, NaN in bin 0.
    ([-0.1, CENTRES[3]], [1, 1], 4, 1.0),
    ([7.0, 7.0 - TWO_PI], [1, 3], 4, 1.0),
    ([math.nan, CENTRES[1]], [2, 2], 4, 0.5),
    (CENTRES, [1, 1, 1, 1], 0, 0.0),
    ([], [1.0], 4, 0.0),
    (CENTRES, [-1, 0, 0, 0], 4, 0.0),
    (CENTRES, [3, 3], 4, 0.5),             # only the first min(len) pairs
])
def test_worked_examples(theta, amp, n_bins, expect):
    assert mi(theta, amp, n_bins) == expect == ref.modulation_index(theta, amp, n_bins)


def test_one_bin_gives_nan():
    assert math.isnan(mi([0.5, 2.0], [1.0, 2.0], 1))
    assert mi([0.5, 2.0], [0.0, 0.0], 1) == 0.0


@pytest.mark.parametrize("seed", range(2))
def test_index_bit_for_bit(seed):
    rng = np.random.default_rng(seed)
    theta = rng.normal(0.0, 20.0, int(rng.integers(1, 400)))
    theta[::7] = rng.choice([-0.0, TWO_PI, -TWO_PI, 1e300, -1e-300], size=theta[::7].size)
    amp = rng.uniform(-0.2, 3.0, int(rng.integers(1, 400)))
    n_bins = int(rng.integers(1, 30))
    assert mi(theta, amp, n_bins) == ref.modulation_index(theta.tolist(), amp.tolist(), n_bins)


@pytest.mark.parametrize("n, t, n_bins", [(1, 9, 4), (6, 2500, 18), (4, 300, 700)])
def test_matrix_bit_for_bit(n, t, n_bins):
    rng = np.random.default_rng(n * t)
    ph = rng.uniform(-10, 10, n * t + 2)
    amp = rng.uniform(0, 2, n * t + 2)
    out = qk.pac_matrix_compute(ph, amp, t, n, n_bins)
    assert type(out) is list and out == ref.pac_matrix(ph.tolist(), amp.tolist(), t, n, n_bins)


@pytest.mark.parametrize("len_ph, len_amp, t, n, expect", [
    (6, 5, 3, 2, [0.0] * 4),
    (0, 0, 3, 0, []),
    (2, 2, 2**63, 2, [0.0] * 4),  # n*t wraps to 2: still too short
])
def test_matrix_short_input_gives_zeros(len_ph, len_amp, t, n, expect):
    assert qk.pac_matrix_compute(np.ones(len_ph), np.ones(len_amp), t, n, 4) == expect


def test_more_bins_than_samples():
    rng = np.random.default_rng(9)
    theta, amp = rng.uniform(-9, 9, 300), rng.uniform(0, 2, 300)
    assert mi(theta, amp, 5000) == ref.modulation_index(theta.tolist(), amp.tolist(), 5000)
    # Far more bins than memory holds: only the bins in use are kept.
    huge = 2**64 - 1
    got = mi([0.5, 2.0], [1.0, 1.0], huge)
    assert got == pytest.approx(1.0 - math.log(2.0) / math.log(huge), rel=1e-15)
    m = qk.pac_matrix_compute(np.array([0.5, 9.0, 2.0, 1.0]), np.array([1.0, 2.0, 1.0, 3.0]), 2, 2, huge)
    assert m[0] == got and m[1] == mi([0.5, 2.0], [2.0, 3.0], huge)


def test_matrix_size_is_checked():
    for n, t in [(2**30, 1), (2**32, 2**40)]:
        assert internal_error(qk.pac_matrix_compute, np.zeros(0), np.zeros(0), t, n, 4) == "capacity overflow"
