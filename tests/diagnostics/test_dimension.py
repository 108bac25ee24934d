"""Correlation sums (all pairs and seeded samples) and the Kaplan-Yorke dimension."""
import math
import os

import numpy as np
import pytest

import qel_kernel as qk
from reference import dimension as ref
from support import internal_error

WORKERS = len(os.sched_getaffinity(0))


def corr(traj, t, d, eps, *rest):
    return qk.correlation_integral_rust(np.asarray(traj, dtype=float), t, d, np.asarray(eps, dtype=float), *rest)


@pytest.mark.parametrize("length, t, d, expect", [
    (5, 2, 3, "6"),
    (0, 2**32, 2**32, "18446744073709551616"),   # wraps to 0 in 64 bits
])
def test_length_message_prints_the_exact_product(length, t, d, expect):
    with pytest.raises(ValueError) as info:
        corr(np.zeros(length), t, d, [1.0])
    assert str(info.value) == f"trajectory length {length} != T*d={expect}"


@pytest.mark.parametrize("t, d", [(2, 1), (17, 3), (45, 5)])
def test_all_pairs_against_pdist(t, d):
    traj = np.random.default_rng(t).normal(size=t * d)
    dist = np.unique(ref.pdist(traj.reshape(t, d)))
    eps = np.concatenate([[-1.0, 0.0, dist[0] / 2], (dist[:-1] + dist[1:])[::7] / 2, [dist[-1] * 2]])
    assert corr(traj, t, d, eps).tolist() == ref.correlation_exhaustive(traj, t, d, eps)


def test_rows_that_span_several_blocks():
    # Rows of 4132 distances down to one: whole blocks of 2048, remainders of every length, the same counts.
    t, d = 4133, 2
    traj = np.random.default_rng(12).normal(size=t * d)
    eps = [0.0, 0.01, 0.3, 1.0, 2.5, math.inf, math.nan]
    assert corr(traj, t, d, eps, t * t).tolist() == ref.correlation_exhaustive(traj, t, d, eps)


@pytest.mark.parametrize("n_eps", [5, 65, 300])
def test_radii_in_any_order_with_nan_and_repeats(n_eps):
    rng = np.random.default_rng(n_eps)
    traj = rng.normal(size=40 * 2)
    dist = ref.pdist(traj.reshape(40, 2))
    eps = rng.choice(np.concatenate([dist + 1e-9, [math.nan, -math.inf, math.inf, 0.0]]), n_eps)
    eps[::9] = eps[0]
    assert corr(traj, 40, 2, eps).tolist() == ref.correlation_exhaustive(traj, 40, 2, eps)
    assert corr(traj, 40, 2, eps, 700, 3).tolist() == ref.correlation_sampled(traj, 40, 2, eps, 700, 3, WORKERS)


@pytest.mark.parametrize("n_eps", [40, 400])
def test_radii_on_and_next_to_the_distances(n_eps):
    # Radii equal to distances and one ulp either side, and extremes: the counts are exact at every boundary.
    rng = np.random.default_rng(n_eps)
    traj = rng.normal(size=30 * 3) * rng.choice([1e-160, 1.0, 1e150], 90)
    dist = np.array(ref.distances(traj.tolist(), 30, 3))
    eps = rng.choice(dist, n_eps - 10)
    eps = np.concatenate([eps, np.nextafter(eps[:3], 0), np.nextafter(eps[:3], np.inf),
                          [5e-324, 1e-170, 1e200, 1.7976931348623157e308]])
    rng.shuffle(eps)
    want = [np.count_nonzero(dist < e) / dist.size for e in eps]
    assert corr(traj, 30, 3, eps).tolist() == want


@pytest.mark.parametrize("traj, t, d, eps, expect", [
    ([0.0, 1.0], 2, 1, [1.0, math.nextafter(1.0, 2.0)], [0.0, 1.0]),   # strictly below eps
    ([0.0, math.nan, 0.5], 3, 1, [1.0, math.inf], [1 / 3, 1 / 3]),      # NaN distances stay in the total
    ([], 5, 0, [0.0, -1.0, 5e-324, 1.0], [0.0, 0.0, 1.0, 1.0]),        # d = 0: every distance is 0.0
    ([], 0, 3, [1.0, 2.0], [0.0, 0.0]),
    ([4.0, 5.0], 1, 2, [1.0], [0.0]),
])
def test_worked_examples(traj, t, d, eps, expect):
    assert corr(traj, t, d, eps).tolist() == expect


def test_budget_is_inclusive_and_the_sample_is_seeded():
    traj = np.random.default_rng(3).normal(size=4 * 2)
    eps = [0.5, 1.0, 2.0, 3.0]
    assert corr(traj, 4, 2, eps, 6).tolist() == ref.correlation_exhaustive(traj, 4, 2, eps)
    sampled = corr(traj, 4, 2, eps, 5, 9)
    assert sampled.tobytes() == corr(traj, 4, 2, eps, 5, 9).tobytes()
    assert np.array_equal(sampled, ref.correlation_sampled(traj, 4, 2, eps, 5, 9, WORKERS), equal_nan=True)
    big = np.random.default_rng(4).normal(size=300 * 3)
    assert corr(big, 300, 3, eps, 4000, 2**64 - 1).tolist() == \
        ref.correlation_sampled(big, 300, 3, eps, 4000, 2**64 - 1, WORKERS)
    assert np.isnan(corr(traj, 4, 2, eps, 0)).all()
    # Empty trajectory, huge T, d = 0: the sample reads no coordinates.
    assert corr([], 2**63, 0, [1.0], 2 * WORKERS).tolist() == [1.0]


@pytest.mark.parametrize("t, max_pairs", [(2**63, 2**64 - 1), (2**31 + 2**30, 2**64 - 1)])
def test_samples_beyond_any_buffer_are_refused(t, max_pairs):
    assert internal_error(corr, [], t, 0, [1.0], max_pairs) == "capacity overflow"


@pytest.mark.parametrize("spectrum, expect", [
    ([], 0.0), ([-1.0, -2.0], 0.0), ([1.0, 0.5], 2.0), ([0.5, -1.0, 1.0], 3.0),
    ([1.0, -1e-301], 2.0), ([1.0, -1e-310, -2.0], 2.5), ([0.0, -5e-324], 1.0),
])
def test_kaplan_yorke_worked_examples(spectrum, expect):
    assert qk.kaplan_yorke_dimension_rust(np.array(spectrum, dtype=float)) == expect == ref.kaplan_yorke(spectrum)


@pytest.mark.parametrize("seed", range(5))
def test_kaplan_yorke_random_spectra(seed):
    rng = np.random.default_rng(seed)
    spectrum = rng.normal(0.0, 1.0, int(rng.integers(1, 12)))
    assert qk.kaplan_yorke_dimension_rust(spectrum) == ref.kaplan_yorke(spectrum.tolist())
