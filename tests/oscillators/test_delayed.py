"""The delayed-coupling Kuramoto run: its arithmetic and ring against the reference, the pool's summation, and its
failures, every one of which is the internal error."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference.delay import delayed_run
from support import TWO_PI, bits, same_on_one_cpu, wrap

NOT_CONTIG = "The given array is not contiguous or is misaligned."
run = qk.delayed_kuramoto_run_rust


def internal_error_type():
    try:
        run(np.zeros(1), np.zeros(1), np.zeros(1), np.zeros(1), 0, 0.0, 0.0, 0.01, 0, 0)
    except BaseException as e:  # noqa: B036  (the internal-error type derives from BaseException only)
        return type(e)
    raise AssertionError("no internal error")


PANIC = internal_error_type()


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


def test_ring_of_three_slots_reads_the_phases_of_two_steps_ago():
    # D = 2, oscillator 0 coupled only to oscillator 1, which only rotates: step s reads the partner's phase
    # at the start of step s - 2 (the current one while s < 2).
    phases, omegas, knm, alpha = network(2, False, seed=5)
    knm = np.array([0.0, 1.0, 0.0, 0.0])
    omegas = np.array([0.0, 3.0])
    traj = [phases] + [run(phases, omegas, knm, alpha, 2, 0.0, 0.0, 0.1, 2, k) for k in range(1, 6)]
    for k in range(1, 6):
        src = traj[k - 1 - 2] if k - 1 >= 2 else traj[k - 1]
        t0 = traj[k - 1][0]
        rate = (math.sin(src[1]) * math.cos(t0) - math.cos(src[1]) * math.sin(t0)) * 1.0
        assert traj[k][0] == wrap(rate * 0.1 + t0)


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
    with pytest.raises(PANIC, match=r'^stepper init failed: InvalidDimension\("n must be > 0"\)$'):
        run(weird, weird, weird, weird, 0, 0.0, 0.0, 0.1, 0, 0)
    with pytest.raises(PANIC, match=r'^stepper init failed: InvalidConfig\("dt must be positive finite, got 0"\)$'):
        run(weird, weird, weird, weird, 3, 0.0, 0.0, 0.0, 0, 0)


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
    with pytest.raises(PANIC) as e:
        run(a["phases"], a["omegas"], a["knm"], a["alpha"], a["n"], a["zeta"], a["psi"], a["dt"], a["delay"],
            a["steps"])
    assert str(e.value) == "stepper init failed: " + message


def test_phases_that_diverge_during_the_run_fail_at_the_next_step():
    # A huge frequency overflows the phase to infinity after the first step; the second step refuses it.
    args = (np.array([0.0]), np.array([1e308]), np.zeros(1), np.zeros(1), 1, 0.0, 0.0, 10.0, 0)
    assert math.isnan(run(*args, 1)[0])
    with pytest.raises(PANIC, match="IntegrationDiverged"):
        run(*args, 2)


@pytest.mark.parametrize(
    "n, delay, exc, message",
    [
        (3, 2**64 - 1, PANIC, "capacity overflow"),  # D + 1 would wrap to an empty ring
        (3, 2**63, PANIC, "capacity overflow"),  # 2 (D + 1) overflows
        (1, 2**59 - 1, PANIC, "capacity overflow"),  # exactly 2^60 values
        (0, 2**64 - 1, PANIC, 'stepper init failed: InvalidDimension("n must be > 0")'),  # n is tested first
        (1, 2**56, MemoryError, None),  # representable, but no memory holds it
    ],
)
def test_ring_sizes(n, delay, exc, message):
    for steps in (0, 1):
        with pytest.raises(exc) as e:
            run(np.zeros(n), np.zeros(n), np.zeros(n * n), np.zeros(n * n), n, 0.0, 0.0, 0.01, delay, steps)
        if message:
            assert str(e.value) == message


@pytest.mark.parametrize("bad", range(4))
def test_non_contiguous_arrays_are_value_errors(bad):
    arrays = [np.zeros(2), np.zeros(2), np.zeros(4), np.zeros(4)]
    arrays[bad] = np.zeros(2 * len(arrays[bad]))[::2]
    with pytest.raises(ValueError, match=NOT_CONTIG):
        run(*arrays, 0, 0.0, 0.0, 0.0, 0, 1)
