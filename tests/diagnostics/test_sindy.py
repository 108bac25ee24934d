"""Phase SINDy: the checks, recovery of a Kuramoto network, and the plain least-squares fit."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import sindy as ref


def fit(phases, dt=0.01, threshold=0.0, max_iter=10, n_osc=None, n_time=None):
    phases = np.asarray(phases, dtype=float)
    n_time, n_osc = phases.shape if n_osc is None else (n_time, n_osc)
    return qk.sindy_fit_rust(phases.ravel(), n_osc, n_time, dt, threshold, max_iter)


@pytest.mark.parametrize("change, msg", [
    (dict(n_osc=0, n_time=0), "Phase-SINDy requires at least one oscillator"),
    (dict(n_time=1, dt=0.0), "Phase-SINDy requires at least two time samples"),
    (dict(n_osc=3, n_time=3, dt=0.0), "Phase-SINDy requires at least one derivative sample per feature"),
    (dict(dt=-0.0), "Phase-SINDy dt must be finite and positive"),
    (dict(dt=math.inf, threshold=-1.0), "Phase-SINDy dt must be finite and positive"),
    (dict(threshold=-1e-300, max_iter=0), "Phase-SINDy threshold must be finite and non-negative"),
    (dict(threshold=math.nan), "Phase-SINDy threshold must be finite and non-negative"),
    (dict(max_iter=0, n_time=2**62), "Phase-SINDy max_iter must be at least one"),
    (dict(n_osc=2**32, n_time=2**33), "Phase-SINDy input dimensions overflow"),
    (dict(n_time=6, nan=True), "Phase-SINDy phase buffer length mismatch: 10 != 12"),
    (dict(nan=True), "Phase-SINDy phases must be finite"),
    (dict(dt=1e-320), "Phase-SINDy produced non-finite coefficients"),
])
def test_messages_in_order(change, msg):
    args = dict(dt=0.1, threshold=0.0, max_iter=5, n_osc=2, n_time=5, nan=False)
    args.update(change)
    phases = np.linspace(0.0, 3.0, 10)
    if args.pop("nan"):
        phases[7] = math.nan
    with pytest.raises(ValueError) as info:
        fit(phases, **args)
    assert str(info.value) == msg


def test_threshold_negative_zero_and_smallest_history_are_accepted():
    assert fit(np.random.default_rng(0).uniform(0, 6, (3, 2)), threshold=-0.0).shape == (4,)


def kuramoto_network(n=5, steps=1500, dt=0.01, seed=1):
    rng = np.random.default_rng(seed)
    omega = rng.uniform(0.5, 2.0, n)
    k = rng.uniform(0.3, 1.0, (n, n)) * (rng.uniform(size=(n, n)) < 0.5)
    np.fill_diagonal(k, 0.0)
    return omega, k, ref.kuramoto(omega, k, rng.uniform(0, 2 * np.pi, n), dt, steps)


def test_kuramoto_network_is_recovered():
    omega, k, phases = kuramoto_network()
    got = fit(phases, threshold=0.1).reshape(5, 5)
    np.testing.assert_allclose(np.diag(got), omega, atol=0.05)
    off = ~np.eye(5, dtype=bool)
    np.testing.assert_allclose(got[off], k[off], atol=0.05)
    assert np.all(got[off][k[off] == 0.0] == 0.0)


@pytest.mark.parametrize("threshold, max_iter", [(0.0, 1), (0.3, 3), (5.0, 2)])
def test_matches_numpy_stlsq(threshold, max_iter):
    phases = np.random.default_rng(2).uniform(0.0, 2 * np.pi, (80, 6))
    want = ref.sindy_fit(phases, 0.05, threshold, max_iter)
    np.testing.assert_allclose(fit(phases, 0.05, threshold, max_iter).reshape(6, 6), want, atol=1e-9)


@pytest.mark.parametrize("phases, threshold, expect", [
    ([[6.2], [0.1], [0.3]], 0.0, ((0.1 + 2 * np.pi - 6.2) + 0.2) / 2 / 0.01),   # across the seam
    ([[6.2], [0.1], [0.3]], 100.0, 0.0),
])
def test_one_oscillator_is_the_mean_velocity(phases, threshold, expect):
    assert fit(phases, threshold=threshold)[0] == pytest.approx(expect, rel=1e-12)


def test_zero_library_column_gets_zero():
    t = np.arange(50) * 0.1
    phases = np.stack([t, t, np.sin(t) + 2.0 * t], axis=1)
    got = fit(phases, 0.1).reshape(3, 3)
    assert got[0, 1] == got[1, 0] == 0.0 and np.isfinite(got).all()
