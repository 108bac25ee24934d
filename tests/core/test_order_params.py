"""Order parameter, phase-locking value, layer coherence and regime labels."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from support import TWO_PI
from reference import order_params as ref


@pytest.mark.parametrize(
    "phases, expected",
    [
        ([0.0, math.pi], (6.123233995736766e-17, math.pi / 2)),
        ([], (0.0, 0.0)),
        ([-1e-300], (1.0, TWO_PI)),
    ],
)
def test_order_parameter_values(phases, expected):
    assert qk.order_parameter(np.array(phases, dtype=float)) == expected


def test_non_finite_phases_give_nan():
    r, psi = qk.order_parameter(np.array([math.nan]))
    assert math.isnan(r) and math.isnan(psi)
    r, psi = qk.order_parameter(np.array([0.0, math.inf]))
    assert math.isnan(r)


def test_r_is_capped_at_one():
    # Many identical phases whose rounded mean vector is slightly longer than 1.
    for x in np.linspace(0.0, 6.0, 200):
        r, _ = qk.order_parameter(np.full(1001, x))
        assert r <= 1.0


@pytest.mark.parametrize("seed", range(5))
def test_bit_for_bit_against_reference(seed):
    rng = np.random.default_rng(seed)
    n = int(rng.integers(1, 300))
    a = rng.normal(0.0, 10.0, n)
    b = rng.uniform(-7.0, 7.0, n)
    assert qk.order_parameter(a) == ref.order_parameter(a.tolist())
    assert qk.plv(a, b) == ref.plv(a.tolist(), b.tolist())
    idx = rng.integers(0, n + 5, 40).tolist()
    assert qk.layer_coherence(a, idx) == ref.layer_coherence(a.tolist(), idx)
    assert qk.compute_layer_coherence_rust(a, np.array(idx, dtype=np.int64)) == ref.layer_coherence(a.tolist(), idx)


def test_plv():
    with pytest.raises(ValueError) as e:
        qk.plv(np.zeros(3), np.zeros(4))
    assert str(e.value) == "invalid dimension: PLV requires equal-length arrays, got 3 vs 4"
    assert qk.plv(np.zeros(0), np.zeros(0)) == 0.0
    assert qk.layer_coherence(np.array([0.0, 2.0]), []) == qk.layer_coherence(np.zeros(0), [0, 1]) == 0.0


def test_compute_layer_coherence_indices():
    ph = np.array([0.0, 2.0, 4.0])
    with pytest.raises(ValueError) as e:
        qk.compute_layer_coherence_rust(ph, np.array([2, -1]))
    assert str(e.value) == "invalid index -1"
    assert qk.compute_layer_coherence_rust(ph, np.array([5])) == 0.0
    assert qk.compute_layer_coherence_rust(ph, np.zeros(0, dtype=np.int64)) == 0.0


def test_detect_regimes():
    out = qk.detect_regimes_rust(np.array([0.7, 0.3, 0.5, math.nan]))
    assert out.dtype == np.int32 and out.tolist() == [2, 0, 1, 1]
    assert qk.detect_regimes_rust(np.zeros(0)).dtype == np.int32
    # Inverted thresholds: the synchronised rule wins.
    assert qk.detect_regimes_rust(np.array([0.5]), 0.4, 0.6).tolist() == [2]
    # A NaN threshold makes the lower comparison unordered.
    assert qk.detect_regimes_rust(np.array([0.1]), 0.7, math.nan).tolist() == [1]
    rng = np.random.default_rng(3)
    r = rng.uniform(0, 1, 10000)
    expect = np.where(r >= 0.7, 2, np.where(r > 0.3, 1, 0))
    assert np.array_equal(qk.detect_regimes_rust(r), expect)
