"""Model-versus-observation divergence: phase histograms and order samples."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import twin_confidence as ref

A = np.array
TAU = 2 * math.pi


def divergence(mp, op, mo, oo, n_bins=8):
    return qk.twin_divergence_rust(A(mp, float), A(op, float), A(mo, float), A(oo, float), len(mp), len(mo), n_bins)


@pytest.mark.parametrize("mp, op, mo, oo, n_bins, expected", [
    ([0.1, 2.0], [3.0, 5.0], [0, 0], [1, 1], 1, [0.0, 1.0]),
    ([0.1, 0.2], [4.0, 4.1], [0, 1, 2], [1, 2, 3], 2, [math.log(2), 1.0]),  # disjoint bins
    ([TAU, -TAU, math.nan, math.inf], [0.0] * 4, [0.0], [-0.0], 4, [0.0, 0.0]),  # all in bin 0
    ([-1e-20], [TAU - 1e-9], [math.inf], [1.0], 4, [0.0, math.inf]),  # both in the last bin
    ([1.0], [1.0], [math.nan, 1.0, -math.nan, -math.inf] * 50, [0.0] * 200, 4, [0.0, math.nan]),  # sorts with NaN
])
def test_cases(mp, op, mo, oo, n_bins, expected):
    assert divergence(mp, op, mo, oo, n_bins).tolist() == pytest.approx(expected, abs=1e-15, nan_ok=True)


@pytest.mark.parametrize("n, w, n_bins", [(10, 3, 4), (1000, 500, 36), (300, 40, 1000)])
def test_matches_scipy(n, w, n_bins):
    rng = np.random.default_rng(n)
    mp, op = rng.vonmises(0.5, 2.0, n) * 3.0, rng.vonmises(1.0, 1.0, n) * 3.0
    mo, oo = rng.normal(0.0, 1.0, w), rng.exponential(1.0, w)
    js, w1 = qk.twin_divergence_rust(mp, op, mo, oo, n, w, n_bins)
    ref_js, ref_w1 = ref.divergence(mp, op, mo, oo, n_bins)
    assert js == pytest.approx(ref_js, abs=1e-14) and w1 == pytest.approx(ref_w1, rel=1e-14)


def test_huge_bin_count_is_counted_sparsely():
    x = np.random.default_rng(2).uniform(0.0, TAU, 100)
    assert divergence(x, x + 1e-3, [0.0], [0.0], 2**62)[0] == pytest.approx(math.log(2), abs=1e-15)


@pytest.mark.parametrize("mp, op, mo, oo, n, w, n_bins, message", [
    ([0.0] * 3, [0.0] * 2, [], [], 3, 5, 0, "phase lengths must equal n"),
    ([0.0], [0.0], [1.0], [], 1, 1, 0, "order lengths must equal w"),
    ([], [], [], [], 0, 0, 0, "model_phases must contain at least one phase"),
    ([0.0], [0.0], [], [], 1, 0, 0, "model_order must contain at least one sample"),
    ([0.0], [0.0], [1.0], [1.0], 1, 1, 0, "n_bins must be a positive integer"),
])
def test_refusals_in_order(mp, op, mo, oo, n, w, n_bins, message):
    with pytest.raises(ValueError, match=f"^{message}$"):
        qk.twin_divergence_rust(A(mp, float), A(op, float), A(mo, float), A(oo, float), n, w, n_bins)
