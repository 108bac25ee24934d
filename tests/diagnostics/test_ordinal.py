"""Ordinal pattern codes and the entropy of their transitions."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import opt_entropy as ref
from support import bits, same_on_one_cpu

A = np.array


@pytest.mark.parametrize("series, dim, delay, codes", [
    ([2, 3, 1], 3, 1, [4]), ([1, 2, 3, 2, 1], 3, 1, [0, 1, 5]),
    ([1, 2], 3, 1, []), ([5, 1, 4], 4, 0, [0, 0, 0]), ([5, 1, 4], 0, 0, [0, 0, 0]), ([5, 1, 4], 0, 1, []),
    ([5, 1, 4], 2**62, 0, [0, 0, 0]),
    ([5, 1, 4], 2**40, 2**40, []),  # (dimension-1)*delay overflows: no window
    ([0.0, -0.0, np.inf, -np.inf], 4, 1, [18]),  # perm (3, 0, 1, 2): -0.0 ties with 0.0
])
def test_codes_and_window_counts(series, dim, delay, codes):
    ours = qk.ordinal_pattern_sequence(A(series, dtype=float), dim, delay)
    assert ours.dtype == np.int64 and ours.tolist() == codes


@pytest.mark.parametrize("dim", [2, 3, 5, 8, 11])
@pytest.mark.parametrize("delay", [1, 3])
def test_codes_match_stable_argsort(dim, delay):
    x = np.round(np.random.default_rng(dim).normal(size=3000), 1)  # plenty of ties
    assert qk.ordinal_pattern_sequence(x, dim, delay).tolist() == ref.codes(x, dim, delay).tolist()


@pytest.mark.parametrize("dim", [3, 9])
def test_nan_is_taken_where_the_scan_meets_it(dim):
    x = np.random.default_rng(dim).normal(size=200)
    x[[3, 40, 41, 120]] = np.nan
    expected = [ref.selection_code(x[t:t + dim]) for t in range(len(x) - dim + 1)]
    assert qk.ordinal_pattern_sequence(x, dim, 1).tolist() == expected


@pytest.mark.parametrize("series, dim, delay, entropy", [
    ([1, 2, 3, 2, 1], 3, 1, 1.0),
    ([1, 2, 3, 4, 5, 4], 2, 1, 0.8112781244591328),  # transitions counted 3 and 1
    ([1, 2, 3, 4], 3, 1, 0.0),  # one transition
    ([1, 2, 3, 2, 1], 3, 0, 0.0), ([1, 2, 3, 2, 1], 0, 0, 0.0), ([1, 2, 3, 2, 1], 2**62, 0, 0.0),
])
def test_transition_entropy_cases(series, dim, delay, entropy):
    assert qk.transition_entropy(A(series, dtype=float), dim, delay) == entropy


@pytest.mark.parametrize("dim, delay", [(2, 1), (4, 2), (5, 1)])
def test_transition_entropy_matches_numpy(dim, delay):
    x = np.cumsum(np.random.default_rng(delay).normal(size=5000))
    assert qk.transition_entropy(x, dim, delay) == pytest.approx(ref.transition_entropy(x, dim, delay), abs=1e-14)


def exact_transition_entropy(x, dim, delay):
    """The entropy with our arithmetic: terms p ln p subtracted one by one in ascending transition order."""
    c = ref.codes(x, dim, delay)
    if len(c) < 2:
        return 0.0
    _, counts = np.unique(c[:-1] * math.factorial(dim) + c[1:], return_counts=True)
    if len(counts) < 2:
        return 0.0
    n, h = float(len(c) - 1), 0.0
    for k in counts.tolist():
        h -= (k / n) * math.log(k / n)
    return min(1.0, max(0.0, h / math.log(len(counts))))


# Dimensions 3 and 5 count in a dense table, 7 (more cells than transitions) sorts, 13 pairs beyond 64 bits.
@pytest.mark.parametrize("dim, delay, n", [(3, 1, 60000), (5, 2, 60000), (7, 1, 20000), (13, 1, 3000)])
def test_transition_entropy_bits_and_codes_on_one_cpu(dim, delay, n):
    x = np.round(np.cumsum(np.random.default_rng(dim).normal(size=n)), 1)  # ties too
    if dim <= 12:
        assert bits([qk.transition_entropy(x, dim, delay)]) == bits([exact_transition_entropy(x, dim, delay)])
    assert qk.ordinal_pattern_sequence(x, dim, delay).tolist() == ref.codes(x, dim, delay).tolist()
    same_on_one_cpu(
        "import numpy as np, qel_kernel as qk\n"
        f"x = np.round(np.cumsum(np.random.default_rng({dim}).normal(size={n})), 1)\n"
        f"out = qk.ordinal_pattern_sequence(x, {dim}, {delay}).tobytes()"
        f" + np.float64(qk.transition_entropy(x, {dim}, {delay})).tobytes()\n")
