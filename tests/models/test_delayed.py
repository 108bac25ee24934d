"""The delayed-coupling Kuramoto run: its arithmetic and ring against the reference, the pool's summation, and its
failures, every one of which is the internal error."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference.delay import delayed_run
from support import TWO_PI, bits, internal_error, same_on_one_cpu

run = qk.delayed_kuramoto_run_rust


def network(n, lags, seed=2):
    rng = np.random.default_rng(seed)
    phases = rng.uniform(-4.0, 10.0, n)
    omegas = rng.uniform(-1.0, 2.0, n)
    knm = rng.uniform(-0.5, 3.0, n * n)
    alpha = rng.uniform(-0.4, 0.4, n * n) if lags else np.where(np.arange(n * n) % 2 == 0, -0.0, 0.0)
    return phases, omegas, knm, alpha


@pytest.mark.parametrize("n", [1, 3, 9, 17])
@pytest.mark.parametrize("lags", [False, True])
@pytest.mark.parametrize("delay, zeta, psi", [(0, 0.0, 9.0), (1, 0.5, 1.0), (2, -0.0, 2.0), (5, 1.2, -3.0)])
def test_runs_match_the_reference(n, lags, delay, zeta, psi):
    phases, omegas, knm, alpha = network(n, lags)
    for steps in sorted({1, delay, delay + 1, 11}):
        out = run(phases, omegas, knm, alpha, n, zeta, psi, 0.05, delay, steps)
        assert bits(out) == bits(delayed_run(phases, omegas, knm, alpha, zeta, psi, 0.05, delay, steps))
        assert steps == 0 or np.all((out >= 0.0) & (out < TWO_PI))


@pytest.mark.parametrize("lags", [False, True])
def test_delays_of_at_least_the_run_length_are_all_warm_up(lags):
    phases, omegas, knm, alpha = network(6, lags)
    plain = run(phases, omegas, knm, alpha, 6, 0.3, 0.4, 0.1, 0, 7)
    for delay in (7, 8, 1000, 2**20):
        assert bits(run(phases, omegas, knm, alpha, 6, 0.3, 0.4, 0.1, delay, 7)) == bits(plain)
    # A shorter delay changes the run once it has taken effect.
    assert bits(run(phases, omegas, knm, alpha, 6, 0.3, 0.4, 0.1, 6, 7)) != bits(plain)


@pytest.mark.parametrize("lags", [False, True])
def test_pool_rows_from_256_on(lags):
    # Below 256 the rows run serially in plain order; from 256 on the pool, where the zero-lag rows sum in
    # blocks of eight (the general rows still in plain order).
    for n in (255, 256):
        phases, omegas, knm, alpha = network(n, lags, seed=n)
        out = run(phases, omegas, knm, alpha, n, 0.4, 1.5, 0.01, 1, 2)
        blocks = n >= 256 and not lags
        assert bits(out) == bits(delayed_run(phases, omegas, knm, alpha, 0.4, 1.5, 0.01, 1, 2, blocks8=blocks))


def test_same_bits_on_one_cpu():
    same_on_one_cpu(
        "import numpy as np, qel_kernel as qk\n"
        "rng = np.random.default_rng(7); n = 300\n"
        "p, w, k, a = rng.uniform(0, 6, n), rng.uniform(-1, 1, n), rng.uniform(0, 1, n * n), rng.uniform(-1, 1, n * n)\n"
        "z = np.zeros(n * n)\n"
        "out = b''.join(x.tobytes() for x in (\n"
        "    qk.delayed_kuramoto_run_rust(p, w, k, a, n, 0.3, 0.2, 0.01, 2, 4),\n"
        "    qk.delayed_kuramoto_run_rust(p, w, k, z, n, 0.3, 0.2, 0.01, 2, 4),\n"
        "    qk.splitting_run_rust(p, w, k, a, n, 0.3, 0.2, 0.01, 2),\n"
        "    qk.splitting_run_rust(p, w, k, z, n, 0.3, 0.2, 0.01, 2)))\n"
    )


def test_zero_steps_return_the_copy_but_still_build_the_stepper():
    weird = np.array([math.nan, -20.0, 7.0, 1.0])
    assert bits(run(weird, np.zeros(1), np.zeros(2), np.zeros(3), 3, 0.0, 0.0, 0.1, 4, 0)) == bits(weird)
    assert internal_error(lambda: run(weird, weird, weird, weird, 0, 0.0, 0.0, 0.1, 0, 0)) == \
        'stepper init failed: InvalidDimension("n must be > 0")'
    assert internal_error(lambda: run(weird, weird, weird, weird, 3, 0.0, 0.0, 0.0, 0, 0)) == \
        'stepper init failed: InvalidConfig("dt must be positive finite, got 0")'



@pytest.mark.parametrize(
    "change, message",
    [
        ({"phases": np.zeros(4)}, 'InvalidDimension("expected phases and omegas length 3, got 4/3")'),
        ({"n": 2}, 'InvalidDimension("expected phases and omegas length 2, got 3/3")'),
        ({"omegas": np.array([])}, 'InvalidDimension("expected phases and omegas length 3, got 3/0")'),
        ({"knm": np.full(8, math.nan)}, 'InvalidDimension("expected knm/alpha length 9 got 8/9")'),
        ({"alpha": np.array([])}, 'InvalidDimension("expected knm/alpha length 9 got 9/0")'),
        ({"phases": np.array([0.0, math.nan, 1.0])}, 'IntegrationDiverged("delay step inputs contain NaN/Inf")'),
        ({"knm": np.array([0.0] * 8 + [math.inf])}, 'IntegrationDiverged("delay step inputs contain NaN/Inf")'),
        ({"zeta": 0.0, "psi": math.nan}, 'IntegrationDiverged("delay step inputs contain NaN/Inf")'),
        ({"dt": -0.0}, 'InvalidConfig("dt must be positive finite, got -0")'),
        ({"dt": math.nan, "n": 0}, 'InvalidDimension("n must be > 0")'),
    ],
)
def test_every_stepper_error_is_the_internal_error(change, message):
    a = dict(zip(("phases", "omegas", "knm", "alpha"), network(3, True)), n=3, zeta=0.3, psi=0.2, dt=0.01,
             delay=1, steps=3)
    a.update(change)
    call = lambda: run(*(a[k] for k in ("phases", "omegas", "knm", "alpha", "n", "zeta", "psi", "dt", "delay", "steps")))  # noqa: E731
    assert internal_error(call) == "stepper init failed: " + message


def test_phases_that_diverge_during_the_run_fail_at_the_next_step():
    # A huge frequency overflows the phase to infinity after the first step; the second step refuses it.
    args = (np.array([0.0]), np.array([1e308]), np.zeros(1), np.zeros(1), 1, 0.0, 0.0, 10.0, 0)
    assert math.isnan(run(*args, 1)[0])
    assert "IntegrationDiverged" in internal_error(lambda: run(*args, 2))


@pytest.mark.parametrize(
    "n, delay, message",
    [
        (3, 2**64 - 1, "capacity overflow"),  # D + 1 would wrap to an empty ring
        (3, 2**63, "capacity overflow"),  # 2 (D + 1) overflows
        (1, 2**59 - 1, "capacity overflow"),  # exactly 2^60 values
        (0, 2**64 - 1, 'stepper init failed: InvalidDimension("n must be > 0")'),  # n is tested first
        (1, 2**56, None),  # representable, but no memory holds it
    ],
)
def test_ring_sizes(n, delay, message):
    for steps in (0, 1):
        call = lambda: run(np.zeros(n), np.zeros(n), np.zeros(n * n), np.zeros(n * n), n, 0.0, 0.0, 0.01, delay, steps)  # noqa: E731
        if message is None:
            pytest.raises(MemoryError, call)
        else:
            assert internal_error(call) == message
