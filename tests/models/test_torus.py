"""Torus integrator against its reference bit for bit, its one wrap, its unused _n and its input limits; the
integrators that share the pairwise model agree with one another; pool runs give the bits of one CPU."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import geometric as ref
from support import TWO_PI, bits, internal_error, same_on_one_cpu

I64 = np.int64


def network(n, lags, seed=4):
    rng = np.random.default_rng(seed)
    return (rng.uniform(-1.0, 7.0, n), rng.normal(0.0, 1.0, n), rng.uniform(0.0, 2.0, n * n),
            rng.uniform(-0.5, 0.5, n * n) if lags else np.zeros(n * n))


@pytest.mark.parametrize("n", [1, 5, 17])
@pytest.mark.parametrize("lags", [False, True])
@pytest.mark.parametrize("zeta, dt", [(0.0, 0.05), (0.9, 0.05), (0.9, -0.3)])
def test_matches_the_reference(n, lags, zeta, dt):
    phases, omegas, knm, alpha = network(n, lags)
    got = qk.torus_run_rust(phases, omegas, knm, alpha, 0, zeta, 0.4, dt, 6)
    assert bits(got) == bits(ref.torus_run(phases, omegas, knm, alpha, zeta, 0.4, dt, 6))


def test_zero_steps_wrap_once_and_read_nothing_else():
    phases = np.array([-math.pi / 2, 7.0, TWO_PI, -0.0, 1e-300])
    got = qk.torus_run_rust(phases, np.zeros(0), np.zeros(1), np.zeros(0), 0, 0.0, 0.0, 0.1, 0)
    assert np.allclose(got[:2], [1.5 * math.pi, 7.0 - TWO_PI], atol=1e-15)
    assert bits(got[2:]) == bits([TWO_PI, -0.0, 1e-300])  # 2pi stays 2pi: atan2 gives a tiny negative angle
    assert len(qk.torus_run_rust(np.zeros(0), np.zeros(0), np.zeros(0), np.zeros(0), 0, 1.0, 0.0, 0.1, 9)) == 0


def test_n_argument_is_converted_and_ignored():
    phases, omegas, knm, alpha = network(4, True)
    a = qk.torus_run_rust(phases, omegas, knm, alpha, 0, 0.3, 1.0, 0.1, 5)
    assert bits(a) == bits(qk.torus_run_rust(phases, omegas, knm, alpha, 1000, 0.3, 1.0, 0.1, 5))
    with pytest.raises(OverflowError):
        qk.torus_run_rust(phases, omegas, knm, alpha, -1, 0.3, 1.0, 0.1, 5)


@pytest.mark.parametrize("omegas, knm, alpha", [
    (np.zeros(2), np.ones(9), np.zeros(9)),
    (np.zeros(3), np.ones(8), np.zeros(9)),
    (np.zeros(3), np.ones(9), np.full(8, 0.1)),
])
def test_shortfalls(omegas, knm, alpha):
    assert internal_error(qk.torus_run_rust, np.zeros(3), omegas, knm, alpha, 3, 0.0, 0.0, 0.1, 1).startswith(
        "index out of range")


def test_single_oscillator_and_the_drive():
    got = qk.torus_run_rust(np.array([0.5]), np.array([1.0]), np.zeros(1), np.zeros(1), 1, 0.0, 0.0, 0.1, 10)
    assert abs(got[0] - 1.5) < 1e-12
    # Drive alone turns every phase towards psi; zeta = -0.0 ignores psi.
    phases = np.array([0.5, 2.0, 4.0, 6.0])
    pulled = qk.torus_run_rust(phases, np.zeros(4), np.zeros(16), np.zeros(16), 4, 2.0, 3.0, 0.05, 400)
    assert np.allclose(pulled, 3.0, atol=1e-6)
    a = qk.torus_run_rust(phases, np.ones(4), np.ones(16), np.zeros(0), 4, -0.0, math.nan, 0.1, 3)
    assert bits(a) == bits(qk.torus_run_rust(phases, np.ones(4), np.ones(16), np.zeros(0), 4, 0.0, 1.0, 0.1, 3))


@pytest.mark.parametrize("lags", [False, True])
def test_models_that_share_the_pairwise_model_agree(lags):
    """No hyperedges, no triadic term: hypergraph, simplicial and torus integrate the same network."""
    n, steps, dt = 6, 200, 0.002
    phases, omegas, knm, alpha = network(n, lags)
    torus = qk.torus_run_rust(phases, omegas, knm, alpha, n, 0.4, 1.0, dt, steps)
    simplicial = qk.simplicial_run_rust(phases, omegas, knm, alpha, n, 0.4, 1.0, 0.0, dt, steps)
    hyper = qk.hypergraph_run_rust(phases, omegas, n, np.zeros(0, I64), np.zeros(0, I64), np.zeros(0), knm, alpha,
                                   0.4, 1.0, dt, steps)
    assert bits(simplicial) == bits(hyper)  # the same Euler arithmetic
    circle = np.exp(1j * torus)
    # Euler and the exact rotation differ by O(dt) over the run; a lag or coupling fault is far larger.
    assert np.abs(np.exp(1j * simplicial) - circle).max() < 5e-3


ONE_CPU = """
import numpy as np, qel_kernel as qk
rng = np.random.default_rng(5)
n = 300
ph, om, k, a = rng.uniform(0, 6, n), rng.normal(0, 1, n), rng.uniform(0, 1, n * n) / n, rng.uniform(-1, 1, n * n)
z = np.zeros(n * n)
nodes = np.arange(3 * 40, dtype=np.int64) % n
offs = np.arange(0, 120, 3, dtype=np.int64)
parts = [qk.torus_run_rust(ph, om, k, lag, n, 0.3, 1.0, 0.01, 3) for lag in (a, z)]
parts += [qk.simplicial_run_rust(ph, om, k, lag, n, 0.3, 1.0, 2.0, 0.01, 3) for lag in (a, z)]
parts += [qk.hypergraph_run_rust(ph, om, n, nodes, offs, np.ones(40), k, lag, 0.3, 1.0, 0.01, 3) for lag in (a, z)]
s = qk.PyHypergraphStepper(n)
s.step(ph, om, [([0, 1, 2], 1.0)], k, z, 0.3, 1.0)
parts.append(np.array(s.order_parameter()))
out = np.concatenate(parts).tobytes()
"""


def test_pool_runs_give_the_bits_of_one_cpu():
    same_on_one_cpu(ONE_CPU)


@pytest.mark.parametrize("make", [qk.PyHypergraphStepper, qk.PySimplicialStepper])
@pytest.mark.parametrize("args, message", [
    ((0, -1.0), "invalid dimension: n must be > 0"),  # n before dt
    ((4, -1.0), "invalid config: dt must be positive finite, got -1"),
])
def test_constructor_refusals(make, args, message):
    with pytest.raises(ValueError) as e:
        make(*args)
    assert str(e.value) == message


@pytest.mark.parametrize("make", [qk.PyHypergraphStepper, qk.PySimplicialStepper])
def test_sizes_beyond_memory(make):
    assert internal_error(make, 2 ** 60) == "capacity overflow"
    with pytest.raises(MemoryError):
        make(2 ** 56)
