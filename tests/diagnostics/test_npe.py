"""Circular phase distances and the normalised persistent entropy."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import npe as ref

A = np.array
PI = math.pi
SPLIT = ref.entropy([0.1, PI - 0.1])  # about 0.2035


@pytest.mark.parametrize("phases, max_radius, expected", [
    ([], PI, 0.0), ([0.3, 2.0], PI, 0.0), ([1.0, 1.0, 1.0 + 2 * PI], PI, 0.0), ([0.0, 0.1, PI], 1.0, 0.0),
    ([0.0, 0.1, PI], PI - 0.1, SPLIT),  # the bound is inclusive
    ([0.0, 0.1, PI], math.nan, SPLIT),
    ([0.0, 0.0, 0.1, PI], PI, SPLIT),  # a zero bar stays in the total and adds nothing
])
def test_entropy_cases(phases, max_radius, expected):
    assert qk.compute_npe(A(phases, dtype=float), max_radius) == pytest.approx(expected, abs=1e-15)


def test_default_radius_is_pi():
    x = A([0.0, 0.1, PI])
    assert qk.compute_npe(x) == qk.compute_npe(x, max_radius=PI) == qk.compute_npe(x, ...) == pytest.approx(SPLIT)
    with pytest.raises(TypeError):
        qk.compute_npe(x, "pi")


@pytest.mark.parametrize("n, seed", [(50, 1), (1200, 3)])
def test_bars_are_the_minimum_spanning_tree(n, seed):
    x = np.random.default_rng(seed).uniform(-20.0, 20.0, n)
    bars = ref.bars(x)
    assert qk.compute_npe(x) == pytest.approx(ref.entropy(bars), abs=1e-12)
    cut = bars[n // 2]  # the shorter half of the merges, up to the cut itself
    assert qk.compute_npe(x, cut) == pytest.approx(ref.entropy(bars[bars <= cut]), abs=1e-12)


@pytest.mark.parametrize("phases", [[], [2.5], [0.1, 2 * PI - 0.1, PI, 0.0, 2 * PI, -7.0],
                                    list(np.random.default_rng(4).uniform(-50.0, 50.0, 40))])
def test_distance_matrix_bit_for_bit(phases):
    ours = qk.phase_distance_matrix(A(phases, dtype=float))
    assert ours.tobytes() == ref.matrix(phases).tobytes()
