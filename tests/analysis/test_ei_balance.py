"""Excitatory/inhibitory balance and its adjustment."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import ei_balance as ref
from support import internal_error

INF = math.inf
PAIR = np.array([1.0, 1.0, 0.5, 0.5])


def idx(*values):
    return np.array(values, dtype=np.int64)


@pytest.mark.parametrize(
    "n, exc, inh, extra",
    [
        (5, [0, 1, 1, 7], [2, -3, 4], 0),  # duplicates, an index past n, a negative index
        (6, [0, 2, 5], [2, 3], 4),  # an index in both lists, a longer matrix
        (3, [-1, 9], [0], 0),
        (7, [0, 1, 2, 3], [4, 5, 6, 6], 1),
    ],
)
def test_matches_reference(n, exc, inh, extra):
    knm = np.random.default_rng(n).uniform(-1.0, 3.0, n * n + extra)
    got = qk.compute_ei_balance_rust(knm, n, idx(*exc), idx(*inh))
    want = ref.balance(knm.tolist(), n, exc, inh)
    assert got == want and type(got[3]) is bool
    for target in (1.0, 0.7, -2.0):
        adjusted = qk.adjust_ei_ratio_rust(knm, n, idx(*exc), idx(*inh), target)
        np.testing.assert_array_equal(adjusted, ref.adjust(knm.tolist(), n, exc, inh, target))


def test_known_pair():
    assert qk.compute_ei_balance_rust(PAIR, 2, idx(0), idx(1)) == (2.0, 1.0, 0.5, False, 1.0, 1.0, 0.5, 0.5)
    assert qk.adjust_ei_ratio_rust(PAIR, 2, idx(0), idx(1)).tolist() == [1.0, 1.0, 1.0, 1.0]


@pytest.mark.parametrize(
    "knm, n, exc, inh, ratio, balanced",
    [
        (PAIR, 2, [0], [], INF, False),
        ([-1.0, 0.0, 0.0, 0.0], 2, [0], [9], 1.0, True),
        ([], 0, [0], [0], 1.0, True),
        ([0.8, 0.8, 1.0, 1.0], 2, [0], [1], 0.8, True),
        ([1.3, 1.3, 1.0, 1.0], 2, [0], [1], 1.3, False),
        ([math.nan, 1.0, 1.0, 1.0], 2, [0], [1], math.nan, False),
    ],
)
def test_ratio_guards_and_band(knm, n, exc, inh, ratio, balanced):
    got = qk.compute_ei_balance_rust(np.array(knm, dtype=float), n, idx(*exc), idx(*inh))
    assert (got[0] == ratio or math.isnan(ratio) and math.isnan(got[0])) and got[3] is balanced


@pytest.mark.parametrize(
    "knm, exc, inh, target",
    [
        ([1.0, 1.0, 0.0, 0.0], [0], [1], 1.0),  # no inhibition
        ([0.0, 0.0, 0.5, 0.5], [0], [1], 1.0),  # no excitation
        (PAIR.tolist(), [0], [1], 2.0 + 5e-11),  # already at the target
    ],
)
def test_adjustment_guards_return_a_copy(knm, exc, inh, target):
    knm = np.array(knm)
    got = qk.adjust_ei_ratio_rust(knm, 2, idx(*exc), idx(*inh), target)
    np.testing.assert_array_equal(got, knm)
    assert not np.shares_memory(got, knm)


@pytest.mark.parametrize("target", [0.5, 3.7])
def test_adjustment_reaches_the_target(target):
    n = 8
    knm = np.random.default_rng(2).uniform(0.1, 2.0, n * n)
    exc, inh = idx(0, 2, 3, 7), idx(1, 4, 6)
    adjusted = qk.adjust_ei_ratio_rust(knm, n, exc, inh, target)
    assert qk.compute_ei_balance_rust(adjusted, n, exc, inh)[0] == pytest.approx(target, rel=1e-12)


def test_rows_must_lie_inside_the_matrix():
    # Row 1 of n = 3 ends at 6: five entries fail, six pass; rows past n are never read.
    for fn in (qk.compute_ei_balance_rust, qk.adjust_ei_ratio_rust):
        assert np.asarray(fn(np.ones(6), 3, idx(1, 5), idx(0))).size > 0
        internal_error(fn, np.ones(5), 3, idx(0), idx(1))
    internal_error(qk.compute_ei_balance_rust, np.ones(5), 2**40, idx(2**40 - 1), idx())
