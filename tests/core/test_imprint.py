import numpy as np
import pytest

import qel_kernel as qk
from reference import imprint as ref

NAN = float("nan")
M3 = qk.PyImprintModel(3, 0.1, 1.0)


def test_worked_example():
    qk.PyImprintModel(1, -0.0, 5e-324)  # the edges that pass
    model = qk.PyImprintModel(2, 0.0, 1.0)
    assert model.m == [0.0, 0.0] and model.update([0.5, 2.0], 1.0) is None and model.m == [0.5, 1.0]
    model.update([0.5, 2.0], 1.0)
    assert model.m == [1.0, 1.0]
    model.update([-5.0, 0.0], 1.0)
    assert model.m == [0.0, 1.0]
    assert model.reset() is None and model.m == [0.0, 0.0]
    model.update([1.0, 0.0], 1.0)
    assert model.modulate_coupling([1, 1, 1, 1]) == [2.0, 2.0, 1.0, 1.0]
    assert model.modulate_lag([0, 0, 0, 0]) == [0.0, 1.0, -1.0, 0.0]
    assert model.m == [1.0, 0.0]


@pytest.mark.parametrize("exposure, dt", [([1.0, 1.0], NAN), ([1.0], 1.0), ([1.0, NAN], 1.0)])
def test_update_silent_noops(exposure, dt):
    model = qk.PyImprintModel(2, 0.5, 3.0)
    model.update([0.7, 0.2], 1.0)
    before = model.m
    assert model.update(exposure, dt) is None and model.m == before


def test_update_and_modulations_match_reference():
    rng = np.random.default_rng(5)
    model, r = qk.PyImprintModel(4, 0.3, 2.5), ref.Imprint(4, 0.3, 2.5)
    # -0.0 dt proceeds: pure decay of nothing, products added.
    for dt in [-0.0] + rng.uniform(0.0, 0.7, size=40).tolist():
        e = rng.normal(scale=3.0, size=4).tolist()
        model.update(e, dt)
        r.update(e, dt)
        assert model.m == r.m
    k = rng.normal(size=16).tolist()
    k[5] = NAN
    out_k, out_a = model.modulate_coupling(k), model.modulate_lag(k)
    np.testing.assert_array_equal(out_k, r.modulate_coupling(k))
    np.testing.assert_array_equal(out_a, r.modulate_lag(k))  # the NaN passes through
    # Exposure times dt overflowing to infinity ends at the saturation.
    model.update([1e308] * 4, 10.0)
    assert model.m == [2.5] * 4


@pytest.mark.parametrize(
    "call, msg",
    [
        (lambda: qk.PyImprintModel(0, NAN, 0.0), "invalid config: n must be > 0"),
        (lambda: qk.PyImprintModel(3, -1e-320, 1.0),
         "invalid config: decay_rate must be finite and non-negative, got -0." + "0" * 319 + "1"),
        (lambda: qk.PyImprintModel(3, NAN, 1.0), "invalid config: decay_rate must be finite and non-negative, got NaN"),
        (lambda: qk.PyImprintModel(3, 0.1, -0.0), "invalid config: saturation must be finite and positive, got -0"),
        (lambda: qk.PyImprintModel(3, 0.1, float("inf")),
         "invalid config: saturation must be finite and positive, got inf"),
        (lambda: M3.modulate_coupling([0.0] * 4), "invalid dimension: expected 9=3*3, got 4"),
        (lambda: M3.modulate_lag([0.0] * 10), "invalid dimension: expected 9=3*3, got 10"),
    ],
)
def test_errors(call, msg):
    with pytest.raises(ValueError) as e:
        call()
    assert str(e.value) == msg
