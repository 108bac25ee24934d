import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import imprint as ref


def test_update_worked_example():
    model = qk.PyImprintModel(2, 0.0, 1.0)
    assert model.m == [0.0, 0.0]
    assert model.update([0.5, 2.0], 1.0) is None
    assert model.m == [0.5, 1.0]
    model.update([0.5, 2.0], 1.0)
    assert model.m == [1.0, 1.0]
    model.update([-5.0, 0.0], 1.0)
    assert model.m == [0.0, 1.0]


@pytest.mark.parametrize(
    "exposure, dt",
    [
        ([1.0, 1.0], -0.1),
        ([1.0, 1.0], float("nan")),
        ([1.0, 1.0], float("inf")),
        ([1.0], 1.0),
        ([1.0, 1.0, 1.0], 1.0),
        ([1.0, float("nan")], 1.0),
        ([float("-inf"), 1.0], 1.0),
    ],
)
def test_update_silent_noops(exposure, dt):
    model = qk.PyImprintModel(2, 0.5, 3.0)
    model.update([0.7, 0.2], 1.0)
    before = model.m
    assert model.update(exposure, dt) is None
    assert model.m == before


def test_update_clamps_and_decays_like_reference():
    rng = np.random.default_rng(5)
    model = qk.PyImprintModel(5, 0.3, 2.5)
    r = ref.Imprint(5, 0.3, 2.5)
    for _ in range(40):
        e = rng.normal(scale=3.0, size=5).tolist()
        dt = float(rng.uniform(0.0, 0.7))
        model.update(e, dt)
        r.update(e, dt)
        assert model.m == r.m
    # -0.0 dt proceeds: pure decay of nothing, products added.
    model.update([1.0] * 5, -0.0)
    r.update([1.0] * 5, -0.0)
    assert model.m == r.m
    # Exposure times dt overflowing to infinity ends at the saturation.
    model.update([1e308] * 5, 10.0)
    assert model.m == [2.5] * 5


def test_reset_and_m_is_a_copy():
    model = qk.PyImprintModel(3, 0.1, 1.0)
    model.update([1.0, 0.5, 0.0], 0.5)
    m = model.m
    m[0] = 99.0
    assert model.m[0] != 99.0
    assert model.reset() is None
    assert model.m == [0.0, 0.0, 0.0]


def test_modulations_worked_example():
    model = qk.PyImprintModel(2, 0.0, 1.0)
    model.update([1.0, 0.0], 1.0)
    assert model.m == [1.0, 0.0]
    assert model.modulate_coupling([1, 1, 1, 1]) == [2.0, 2.0, 1.0, 1.0]
    assert model.modulate_lag([0, 0, 0, 0]) == [0.0, 1.0, -1.0, 0.0]
    assert model.m == [1.0, 0.0]


def test_modulations_match_reference_and_pass_nan():
    rng = np.random.default_rng(9)
    model = qk.PyImprintModel(4, 0.2, 1.5)
    r = ref.Imprint(4, 0.2, 1.5)
    e = rng.uniform(0, 2, size=4).tolist()
    model.update(e, 0.4)
    r.update(e, 0.4)
    k = rng.normal(size=16).tolist()
    k[5] = float("nan")
    out_k = model.modulate_coupling(np.array(k))
    out_a = model.modulate_lag(tuple(k))
    np.testing.assert_array_equal(out_k, r.modulate_coupling(k))
    np.testing.assert_array_equal(out_a, r.modulate_lag(k))
    assert math.isnan(out_k[5]) and math.isnan(out_a[5])


@pytest.mark.parametrize("method", ["modulate_coupling", "modulate_lag"])
@pytest.mark.parametrize("length", [0, 4, 10])
def test_modulation_length_error(method, length):
    model = qk.PyImprintModel(3, 0.1, 1.0)
    with pytest.raises(ValueError) as e:
        getattr(model, method)([0.0] * length)
    assert str(e.value) == f"invalid dimension: expected 9=3*3, got {length}"


@pytest.mark.parametrize(
    "args, msg",
    [
        ((0, float("nan"), 0.0), "invalid config: n must be > 0"),
        ((3, -1e-320, 1.0), "invalid config: decay_rate must be finite and non-negative, got -0.00000"),
        ((3, float("nan"), 1.0), "invalid config: decay_rate must be finite and non-negative, got NaN"),
        ((3, float("inf"), 1.0), "invalid config: decay_rate must be finite and non-negative, got inf"),
        ((3, 0.1, 0.0), "invalid config: saturation must be finite and positive, got 0"),
        ((3, 0.1, -0.0), "invalid config: saturation must be finite and positive, got -0"),
        ((3, 0.1, float("inf")), "invalid config: saturation must be finite and positive, got inf"),
    ],
)
def test_constructor_checks(args, msg):
    with pytest.raises(ValueError) as e:
        qk.PyImprintModel(*args)
    assert str(e.value).startswith(msg)


def test_constructor_accepts_edges():
    qk.PyImprintModel(1, -0.0, 5e-324)
    qk.PyImprintModel(1, 0.0, 1.0)
    with pytest.raises(OverflowError):
        qk.PyImprintModel(-1, 0.0, 1.0)
    with pytest.raises(TypeError):
        qk.PyImprintModel(2, 0.0, 1.0).update("ab", 1.0)
