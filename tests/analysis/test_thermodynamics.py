"""Boltzmann weights, Langevin noise, phase entropy, effective temperature and entropy production."""
import math

import numpy as np
import pytest
import scipy.stats

import qel_kernel as qk
from reference import thermodynamics as ref

NAN, INF = math.nan, math.inf


@pytest.mark.parametrize("u, temperature, expected", [
    (1000.0, 1.0, math.exp(-700.0)), (-1000.0, 1.0, math.exp(700.0)), (2.0, 4.0, math.exp(-0.5)),
    (0.0, 0.0, 1.0), (1e-9, 0.0, 0.0), (-5.0, -1.0, 1.0), (NAN, 0.0, 0.0), (1.0, NAN, NAN),
])
def test_boltzmann_weight(u, temperature, expected):
    assert qk.boltzmann_weight_rust(u, temperature) == pytest.approx(expected, rel=0, abs=0, nan_ok=True)


@pytest.mark.parametrize("n, temperature, dt, seed", [
    (1, 1.0, 0.01, 0), (7, 2.0, 1e-3, 2**64 - 1), (3, 0.0, 1.0, 1), (3, -1.0, 1.0, 1),
])
def test_langevin_noise_against_reference(n, temperature, dt, seed):
    z = np.random.default_rng(n).normal(0.0, 1.0, n)
    before = z.copy()
    out = qk.add_langevin_noise_rust(z, temperature, dt, seed)
    assert out.tolist() == ref.add_langevin_noise(z.tolist(), temperature, dt, seed)
    assert out is not z and np.array_equal(z, before)


def test_langevin_noise_pairs_and_nan():
    # An odd length uses the cosine of its last pair and nothing after it.
    odd = qk.add_langevin_noise_rust(np.zeros(7), 1.0, 1.0, 9)
    assert np.array_equal(odd, qk.add_langevin_noise_rust(np.zeros(8), 1.0, 1.0, 9)[:7])
    assert qk.add_langevin_noise_rust(np.zeros(0), NAN, NAN, 0).size == 0
    assert np.isnan(qk.add_langevin_noise_rust(np.zeros(3), NAN, 1.0, 0)).all()


def test_langevin_increments_are_normal():
    temperature, dt = 0.7, 0.02
    noise = qk.add_langevin_noise_rust(np.zeros(200_000), temperature, dt, 42) / math.sqrt(2 * temperature * dt)
    assert scipy.stats.kstest(noise, "norm").pvalue > 1e-3


@pytest.mark.parametrize("phases, n_bins, expected", [
    (np.arange(36) * (2 * math.pi / 36) + 0.01, 36, math.log(36)),
    ([2 * math.pi, 0.05], 36, 0.0),          # 2pi falls into bin 0
    ([-0.1, 2 * math.pi - 0.05], 36, 0.0),   # -0.1 into the last bin
    ([NAN, INF, -INF, 0.01], 36, 0.0),       # non-finite phases fall into bin 0
    ([0.5, 3.0], 0, 0.0),
])
def test_entropy_from_phases_values(phases, n_bins, expected):
    assert qk.entropy_from_phases_rust(np.array(phases, dtype=float), n_bins) == pytest.approx(expected, abs=1e-12)


@pytest.mark.parametrize("n_bins", [3, 1000, 2**64 - 1])
def test_entropy_from_phases_any_bin_count(n_bins):
    # Huge bin counts take memory for the phases only.
    x = np.random.default_rng(n_bins % 97).normal(0.0, 4.0, 5000)
    x[:50] = x[50:100]
    got = qk.entropy_from_phases_rust(x, n_bins)
    assert got == ref.entropy_from_phases(x.tolist(), n_bins)
    assert got == pytest.approx(scipy.stats.entropy(ref.phase_bin_counts(x.tolist(), n_bins)), abs=1e-12)


@pytest.mark.parametrize("costs, expected", [
    ([-1.0, -3.0], 0.5), ([-1.0, 1.0], 0.0), ([5.0], 0.0), ([1.0, NAN], NAN),
    ([2.0, 4.0, 9.0], 1.3),  # mean 5, variance 13
])
def test_effective_temperature(costs, expected):
    got = qk.effective_temperature_rust(np.array(costs, dtype=float))
    assert got == pytest.approx(expected, nan_ok=True)
    assert got == pytest.approx(ref.effective_temperature(costs), rel=0, abs=0, nan_ok=True)


def test_entropy_production_example_and_reference():
    got = qk.entropy_production_rate(np.array([0.0, math.pi / 2]), np.zeros(2), np.array([0.0, 1.0, 1.0, 0.0]), 2.0, 1.0)
    assert got == pytest.approx(2.0, abs=1e-15)
    assert math.isnan(qk.entropy_production_rate(np.zeros(3), np.zeros(3), np.ones(9), 1.0, INF))  # inf * 0
    rng = np.random.default_rng(4)
    for n in (1, 2, 9):
        args = rng.uniform(-3, 3, n).tolist(), rng.normal(0, 1, n).tolist(), rng.uniform(0, 2, n * n).tolist()
        got = qk.entropy_production_rate(*map(np.array, args), 1.7, 0.3)
        assert got == ref.entropy_production_rate(*args, 1.7, 0.3)


@pytest.mark.parametrize("n_phases, n_omegas, n_knm, dt, expected", [
    (2, 2, 4, -0.0, 0.0), (2, 2, 4, -1.0, 0.0), (0, 0, 0, 1.0, 0.0), (2, 3, 4, 1.0, 0.0), (2, 2, 5, 1.0, 0.0),
    (2, 2, 4, NAN, NAN),
])
def test_entropy_production_shapes(n_phases, n_omegas, n_knm, dt, expected):
    got = qk.entropy_production_rate(np.ones(n_phases), np.ones(n_omegas), np.ones(n_knm), 1.0, dt)
    assert got == pytest.approx(expected, nan_ok=True)

