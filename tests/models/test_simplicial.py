"""Simplicial stepper: the model against its reference bit for bit, the triadic term against its double sum, the
validated step's checks, the unvalidated run's limits, and the run function's own checks and failures."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import simplicial as ref
from support import bits, internal_error

NAN = math.nan


def network(n, lags, seed=2):
    rng = np.random.default_rng(seed)
    return (rng.uniform(-1.0, 7.0, n), rng.normal(0.0, 1.0, n), rng.uniform(0.0, 2.0, n * n),
            rng.uniform(-0.5, 0.5, n * n) if lags else np.zeros(n * n))


@pytest.mark.parametrize("n", [1, 2, 3, 9, 17])
@pytest.mark.parametrize("lags", [False, True])
@pytest.mark.parametrize("zeta, sigma2", [(0.0, 3.0), (0.7, -2.0), (0.7, 0.0)])
def test_step_run_and_run_function_match_the_reference(n, lags, zeta, sigma2):
    phases, omegas, knm, alpha = network(n, lags)
    s = qk.PySimplicialStepper(n, dt=0.05)
    want = ref.run(n, phases, omegas, knm, alpha, zeta, 0.4, sigma2, 0.05, 1)
    assert bits(s.step(phases, omegas, knm, alpha, zeta, 0.4, sigma2)) == bits(want)
    want = ref.run(n, phases, omegas, knm, alpha, zeta, 0.4, sigma2, 0.05, 6)
    assert bits(s.run(phases, omegas, knm, alpha, zeta, 0.4, sigma2, 6)) == bits(want)
    got = qk.simplicial_run_rust(phases, omegas, knm, alpha, n, zeta, 0.4, sigma2, 0.05, 6)
    assert bits(got) == bits(want)


def derivative(theta, sigma2, h=1e-4):
    """dtheta/dt of the triadic term alone, from one short step."""
    n = len(theta)
    out = qk.PySimplicialStepper(n, dt=h).step(theta, np.zeros(n), np.zeros(n * n), np.zeros(n * n), 0.0, 0.0,
                                                sigma2)
    return (out - theta) / h


def test_triadic_example_and_double_sum():
    assert np.allclose(derivative(np.array([0.0, 0.0, math.pi / 2]), 9.0), [4.0, 4.0, -4.0], atol=1e-8)
    theta = np.random.default_rng(3).uniform(0.5, 5.5, 7)
    double = np.sin(theta[None, :, None] + theta[None, None, :]
                    - 2 * theta[:, None, None]).sum(axis=(1, 2))
    assert np.allclose(derivative(theta, 2.5), 2.5 / 49 * double, atol=1e-7)


@pytest.mark.parametrize("n, sigma2", [(2, 5.0), (1, NAN), (5, -0.0)])
def test_no_triadic_term(n, sigma2):
    phases, omegas, knm, alpha = network(n, True)
    s = qk.PySimplicialStepper(n)
    assert bits(s.run(phases, omegas, knm, alpha, 0.3, 0.1, sigma2, 5)) == \
        bits(s.run(phases, omegas, knm, alpha, 0.3, 0.1, 0.0, 5))


@pytest.mark.parametrize("change, message", [
    (dict(phases=np.zeros(2)), "invalid dimension: expected phases and omegas length 3, got 2/3"),
    (dict(alpha=np.array([NAN] * 8)), "invalid dimension: expected knm/alpha length 9 got 9/8"),
    (dict(alpha=np.zeros(0)), "invalid dimension: expected knm/alpha length 9 got 9/0"),
    (dict(sigma2=NAN), "integration diverged: simplicial step inputs contain NaN/Inf"),
])
def test_step_refusals(change, message):
    args = dict(phases=np.array([0.1, 0.2, 0.3]), omegas=np.ones(3), knm=np.ones(9), alpha=np.zeros(9), zeta=0.0,
                psi=0.0, sigma2=1.0)
    args.update(change)
    with pytest.raises(ValueError) as e:
        qk.PySimplicialStepper(3).step(**args)
    assert str(e.value) == message


def test_run_keeps_the_tail_and_zero_steps_wrap_nothing():
    phases = np.array([-7.0, 0.5, 9.0, -3.0, 1e300])
    s = qk.PySimplicialStepper(3, dt=0.1)
    assert bits(s.run(phases, np.ones(3), np.ones(9), np.zeros(0), 0.0, 0.0, 1.0, 0)) == bits(phases)
    got = s.run(phases, np.ones(4), np.ones(10), np.zeros(0), 0.0, 0.0, 1.0, 3)  # empty alpha: zero-lag path
    assert bits(got) == bits(ref.run(3, phases, np.ones(3), np.ones(9), np.zeros(9), 0.0, 0.0, 1.0, 0.1, 3))
    assert bits(got[3:]) == bits(phases[3:])


@pytest.mark.parametrize("change", [
    dict(phases=np.zeros(2)), dict(omegas=np.zeros(2)), dict(knm=np.ones(8)), dict(alpha=np.full(8, 0.1)),
])
def test_run_shortfalls_raise_the_internal_error(change):
    args = dict(phases=np.zeros(3), omegas=np.ones(3), knm=np.ones(9), alpha=np.full(9, 0.1), zeta=0.0, psi=0.0,
                sigma2=1.0)
    args.update(change)
    s = qk.PySimplicialStepper(3)
    assert internal_error(lambda: s.run(n_steps=2, **args)).startswith("index out of range")
    s.run(n_steps=0, **args)
    s.step(np.zeros(3), np.ones(3), np.ones(9), np.zeros(9), 0.0, 0.0, 1.0)


@pytest.mark.parametrize("n, lengths, dt, exc, text", [
    (2, (3, 2, 4, 4), 0.1, ValueError, "phases/omegas length must equal n"),
    (2, (2, 2, 4, 3), 0.0, ValueError, "knm/alpha length must equal n*n"),
    (0, (0, 0, 0, 0), 0.1, None, 'stepper init failed: InvalidDimension("n must be > 0")'),
    (2, (2, 2, 4, 4), 0.0, None, 'stepper init failed: InvalidConfig("dt must be positive finite, got 0")'),
])
def test_run_function_checks(n, lengths, dt, exc, text):
    arrays = [np.zeros(k) for k in lengths]
    args = (*arrays, n, 0.0, 0.0, 1.0, dt, 0)
    if exc is None:
        assert internal_error(qk.simplicial_run_rust, *args) == text
    else:
        with pytest.raises(exc) as e:
            qk.simplicial_run_rust(*args)
        assert str(e.value) == text


def test_contiguity_messages():
    strided = np.zeros(6)[::2]
    s = qk.PySimplicialStepper(3)
    with pytest.raises(ValueError, match="^phases not contiguous(\n|$)"):
        s.run(strided, np.zeros(3), np.zeros(9), np.zeros(9), 0.0, 0.0, 0.0, 1)
    with pytest.raises(ValueError, match="^The given array is not contiguous or is misaligned.(\n|$)"):
        qk.simplicial_run_rust(strided, np.zeros(3), np.zeros(9), np.zeros(9), 3, 0.0, 0.0, 0.0, 0.1, 1)
