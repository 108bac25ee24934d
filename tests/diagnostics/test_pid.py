"""Partial information decomposition of two groups' mean phases about the
network's mean phase."""
import numpy as np
import pytest
from scipy.stats import entropy

import qel_kernel as qk
from reference import pid as ref
from support import internal_error

I64 = lambda *v: np.array(v, dtype=np.int64)  # noqa: E731


def history(t, n, seed):
    """Noisy clusters, so that the groups carry information about the mean."""
    rng = np.random.default_rng(seed)
    drive = np.cumsum(rng.normal(0.0, 0.6, size=(t, 1)), axis=0)
    return (drive + rng.normal(0.0, 0.8, size=(t, n)) + np.arange(n) * 0.3).ravel()


@pytest.mark.parametrize("t, n, a, b, n_bins", [
    (400, 6, [0, 1, 1, -3], [4, 5, 9, 6], 8),  # duplicates weigh twice; -3, 9 and 6 are dropped
    (3000, 5, [0, 2], [1, 3, 4], 32),
    (50, 4, [0], [3], 64),  # more cells than steps: counted sparsely
    (200, 3, [0, 1, 2], [1], 1),
])
def test_matches_dense_numpy_tables(t, n, a, b, n_bins):
    h = history(t, n, t + n)
    ours = qk.pid_decomposition_rust(np.append(h, [np.nan] * 5), t, n, I64(*a), I64(*b), n_bins)
    assert ours == pytest.approx(ref.decomposition(h, t, n, a, b, n_bins), abs=1e-12)
    assert min(ours) >= 0.0 and (n_bins > 1 or ours == (0.0, 0.0))


def test_same_group_twice_or_whole_network():
    t, n = 1000, 5
    h = history(t, n, 3)
    red, syn = qk.pid_decomposition_rust(h, t, n, I64(0, 1), I64(0, 1), 16)
    i_ta = ref.decomposition(h, t, n, [0, 1], [0, 1], 16)[0]
    assert red == pytest.approx(i_ta, abs=1e-12) and 0.0 <= syn < 1e-12
    red, _ = qk.pid_decomposition_rust(h, t, n, I64(*range(n)), I64(2, 3), 16)
    whole_b = ref.decomposition(h, t, n, [2, 3], [2, 3], 16)[0]  # I(T; B)
    assert red == pytest.approx(whole_b, abs=1e-12)


def test_single_oscillator_gives_the_entropy_of_its_bins():
    phases = np.random.default_rng(1).uniform(-7, 7, 500)
    counts = np.bincount(np.floor(np.mod(phases, 2 * np.pi) / (2 * np.pi / 10)).astype(int), minlength=10)
    red, syn = qk.pid_decomposition_rust(phases, 500, 1, I64(0), I64(0), 10)
    assert red == pytest.approx(entropy(counts), abs=1e-12) and syn == 0.0


@pytest.mark.parametrize("t, n, a, b, n_bins", [
    (0, 3, [0], [1], 8), (5, 3, [], [1], 8), (5, 3, [0], [-1, 3], 8), (5, 3, [0], [1], 0),
])
def test_degenerate_input_reads_nothing(t, n, a, b, n_bins):
    assert qk.pid_decomposition_rust(np.empty(0), t, n, I64(*a), I64(*b), n_bins) == (0.0, 0.0)


def test_huge_bin_counts_cost_nothing_and_short_histories_fail():
    h = history(300, 4, 9)
    # Every step in a bin of its own: each group tells the whole of T.
    assert qk.pid_decomposition_rust(h, 300, 4, I64(0), I64(1), 2**62) == pytest.approx((np.log(300), 0.0), abs=1e-12)
    assert "the len is 1199" in internal_error(qk.pid_decomposition_rust, h[:-1], 300, 4, I64(0), I64(1))
