"""The Strang splitting stepper: its arithmetic against the reference, its caches, its checks and its runs."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference.order_params import order_parameter as ref_order_parameter
from reference.splitting import strang_step
from support import TWO_PI, bits, wrap

NOT_CONTIG = "The given array is not contiguous or is misaligned."


def internal_error_type():
    try:
        qk.splitting_run_rust(np.array([]), np.array([]), np.array([]), np.array([]), 0, 0.0, 0.0, 0.01, 0)
    except BaseException as e:  # noqa: B036  (the internal-error type derives from BaseException only)
        return type(e)
    raise AssertionError("no internal error")


PANIC = internal_error_type()


def network(n, lag=None, seed=1):
    """Phases partly outside [0, 2pi), frequencies, coupling, and lags: zeros (some negative) with one 0.25 at
    flat index `lag`, or random everywhere for lag == "all", or all zero for None."""
    rng = np.random.default_rng(seed)
    phases = rng.uniform(-7.0, 13.0, n)
    omegas = rng.uniform(-2.0, 3.0, n)
    knm = rng.uniform(-1.0, 2.0, n * n)
    alpha = np.where(np.arange(n * n) % 3 == 0, -0.0, 0.0)
    if lag == "all":
        alpha = rng.uniform(-0.5, 0.5, n * n)
    elif lag is not None:
        alpha[lag] = 0.25
    return phases, omegas, knm, alpha


@pytest.mark.parametrize(
    "n, lag, zeta, psi, dt",
    [
        (1, None, 0.0, 0.0, 0.01),
        (1, 0, 0.7, 1.1, 0.05),
        (3, None, 0.4, 2.0, 0.01),
        (3, 8, -0.0, 5.0, 0.02),  # the lag in the last entry; a -0.0 zeta adds no drive
        (9, None, 0.3, -0.5, 0.01),  # eight rows side by side, and one more
        (9, "all", 0.0, 0.0, 0.03),
        (17, None, 1.5, 4.0, 0.1),
        (17, "all", 0.2, 0.3, 0.01),
    ],
)
def test_steps_runs_and_caches_match_the_reference(n, lag, zeta, psi, dt):
    phases, omegas, knm, alpha = network(n, lag)
    s = qk.PySplittingStepper(n, dt)
    assert s.order_parameter() == (0.0, 0.0)
    a = b = phases
    for _ in range(4):
        b, stage = strang_step(b, omegas, knm, alpha, zeta, psi, dt)
        a = s.step(a, omegas, knm, alpha, zeta, psi)
        assert bits(a) == bits(b)
        # The caches hold the fourth stage of the step, not the phases it returned.
        assert s.order_parameter() == ref_order_parameter(stage)
    assert np.all((a >= 0.0) & (a < TWO_PI))
    r = qk.PySplittingStepper(n, dt)
    assert bits(r.run(phases, omegas, knm, alpha, zeta, psi, 4)) == bits(a)
    assert r.order_parameter() == s.order_parameter()
    assert bits(qk.splitting_run_rust(phases, omegas, knm, alpha, 0, zeta, psi, dt, 4)) == bits(a)


def test_no_coupling_is_two_wrapped_half_drifts():
    # With no field the RK4 step only wraps, so the natural frequencies act through the drifts alone.
    phases, omegas = np.array([6.2, -0.3, 1.0, 12.0]), np.array([40.0, -25.0, 0.0, 3.0])
    dt = 0.01
    out = qk.PySplittingStepper(4, dt).step(phases, omegas, np.zeros(16), np.zeros(16), 0.0, 1.0)
    assert bits(out) == bits(wrap(omegas * (0.5 * dt) + wrap(omegas * (0.5 * dt) + phases)))
    s = qk.PySplittingStepper(4, dt)
    s.step(phases, omegas, np.zeros(16), np.zeros(16), 0.0, 1.0)
    # The fourth stage is the state after the first half drift.
    assert s.order_parameter() == ref_order_parameter(wrap(omegas * (0.5 * dt) + phases))


def test_single_oscillator_follows_its_self_lag_and_the_drive():
    # n = 1: the pairwise term is -K sin(alpha), the drive zeta sin(psi - theta); omega only drifts.
    k, a, zeta, psi, dt = 2.0, 0.3, 0.5, 1.0, 0.01
    out = qk.PySplittingStepper(1, dt).step(np.array([0.2]), np.array([0.0]), np.array([k]), np.array([a]), zeta, psi)
    f = lambda x: -k * math.sin(a) + zeta * math.sin(psi - x)  # noqa: E731
    k1 = f(0.2)
    k2 = f(0.2 + 0.5 * dt * k1)
    k3 = f(0.2 + 0.5 * dt * k2)
    k4 = f(0.2 + dt * k3)
    assert out[0] == pytest.approx(0.2 + dt * (k1 + 2 * k2 + 2 * k3 + k4) / 6, abs=1e-15)


def test_two_steps_equal_a_run_of_two_and_zero_steps_change_nothing():
    phases, omegas, knm, alpha = network(5, lag=7)
    s = qk.PySplittingStepper(5, 0.02)
    two = s.step(s.step(phases, omegas, knm, alpha, 0.4, 0.1), omegas, knm, alpha, 0.4, 0.1)
    assert bits(qk.PySplittingStepper(5, 0.02).run(phases, omegas, knm, alpha, 0.4, 0.1, 2)) == bits(two)
    # Zero steps: the copy as given, unwrapped, and no array is read.
    r = qk.PySplittingStepper(5, 0.02)
    assert bits(r.run(phases, np.array([]), np.array([]), np.array([1.0]), 0.4, 0.1, 0)) == bits(phases)
    assert r.order_parameter() == (0.0, 0.0)


def test_run_reads_only_what_it_needs_and_keeps_the_tail():
    phases, omegas, knm, alpha = network(3, lag=4)
    expect = qk.PySplittingStepper(3, 0.01).run(phases, omegas, knm, alpha, 0.2, 0.3, 3)
    longer = np.append(phases, [-9.0, 100.0])
    out = qk.PySplittingStepper(3, 0.01).run(longer, np.append(omegas, 7.0), np.append(knm, [1.0, 2.0]),
                                              np.append(alpha, 5.0), 0.2, 0.3, 3)
    assert len(out) == 5 and bits(out[:3]) == bits(expect) and bits(out[3:]) == bits([-9.0, 100.0])
    # Lags that are all zero are never read past the scan, an empty array included.
    zero = qk.PySplittingStepper(3, 0.01).run(phases, omegas, knm, np.zeros(9), 0.2, 0.3, 3)
    for lags in (np.array([]), np.array([0.0, -0.0])):
        assert bits(qk.PySplittingStepper(3, 0.01).run(phases, omegas, knm, lags, 0.2, 0.3, 3)) == bits(zero)
        assert bits(qk.splitting_run_rust(phases, omegas, knm, lags, 3, 0.2, 0.3, 0.01, 3)) == bits(zero)


def test_unchecked_paths_let_non_finite_values_through():
    phases, omegas, knm, alpha = network(3)
    s = qk.PySplittingStepper(3, 0.01)
    assert np.all(np.isnan(s.run(phases, omegas, knm, alpha, 0.5, math.nan, 1)))
    clean = s.run(phases, omegas, knm, alpha, 0.0, 0.7, 1)
    assert bits(s.run(phases, omegas, knm, alpha, 0.0, math.nan, 1)) == bits(clean)
    # An infinite phase becomes NaN, and through the zero-lag sums (NaN * 0) so does every other.
    assert np.all(np.isnan(s.run(np.array([math.inf, 1.0, 2.0]), omegas, np.zeros(9), alpha, 0.0, 0.0, 1)))


@pytest.mark.parametrize(
    "change, message",
    [
        ({"phases": np.array([0.1, math.nan])}, "invalid dimension: expected phases and omegas length 3, got 2/3"),
        ({"phases": np.array([])}, "invalid dimension: expected phases and omegas length 3, got 0/3"),
        ({"omegas": np.zeros(4)}, "invalid dimension: expected phases and omegas length 3, got 3/4"),
        ({"knm": np.full(8, math.nan)}, "invalid dimension: expected knm/alpha length 9 got 8/9"),
        ({"alpha": np.zeros(10)}, "invalid dimension: expected knm/alpha length 9 got 9/10"),
        ({"psi": math.nan}, "integration diverged: splitting step inputs contain NaN/Inf"),
        ({"zeta": -math.inf}, "integration diverged: splitting step inputs contain NaN/Inf"),
        ({"alpha": np.array([0.0] * 8 + [math.nan])}, "integration diverged: splitting step inputs contain NaN/Inf"),
        ({"phases": np.arange(6.0)[::2]}, "phases not contiguous"),
        ({"omegas": np.arange(6.0)[::2], "phases": np.arange(6.0)[::2]}, "phases not contiguous"),
        ({"knm": np.arange(18.0)[::2]}, NOT_CONTIG),
        ({"alpha": np.arange(18.0)[::2], "knm": np.zeros(3)}, NOT_CONTIG),
    ],
)
def test_step_refusals_in_order_change_nothing(change, message):
    args = dict(zip(("phases", "omegas", "knm", "alpha"), network(3, lag=2)), zeta=0.3, psi=0.2)
    s = qk.PySplittingStepper(3, 0.01)
    first = s.step(**args)
    op = s.order_parameter()
    with pytest.raises(ValueError) as e:
        s.step(**{**args, **change})
    assert str(e.value) == message
    assert s.order_parameter() == op
    assert bits(s.step(**args)) == bits(first)


@pytest.mark.parametrize(
    "change, message",
    [
        ({"phases": np.zeros(2)}, "phases has 2 entries, fewer than the 3 a step reads"),
        ({"omegas": np.zeros(2)}, "omegas has 2 entries, fewer than the 3 a step reads"),
        ({"knm": np.zeros(8)}, "knm has 8 entries, fewer than the 9 a step reads"),
        ({"alpha": np.array([0.0, 0.5])}, "alpha has 2 entries, fewer than the 9 a step reads"),
    ],
)
def test_run_shortfalls_raise_the_internal_error_and_leave_the_object_usable(change, message):
    args = dict(zip(("phases", "omegas", "knm", "alpha"), network(3)), zeta=0.3, psi=0.2, n_steps=2)
    s = qk.PySplittingStepper(3, 0.01)
    with pytest.raises(PANIC, match=message):
        s.run(**{**args, **change})
    if "phases" not in change:  # the run function's n is the length of phases
        a = {**args, **change}
        with pytest.raises(PANIC, match=message):
            qk.splitting_run_rust(a["phases"], a["omegas"], a["knm"], a["alpha"], 3, 0.3, 0.2, 0.01, 2)
    assert bits(s.run(**args)) == bits(qk.PySplittingStepper(3, 0.01).run(**args))


@pytest.mark.parametrize(
    "make, exc, message",
    [
        (lambda: qk.PySplittingStepper(0, dt=-1.0), ValueError, "invalid dimension: n must be > 0"),
        (lambda: qk.PySplittingStepper(2, dt=0.0), ValueError, "invalid config: dt must be positive finite, got 0"),
        (lambda: qk.PySplittingStepper(2, dt=math.inf), ValueError, "invalid config: dt must be positive finite, got inf"),
        (lambda: qk.PySplittingStepper(2**60), PANIC, "capacity overflow"),
        (lambda: qk.PySplittingStepper(-1), OverflowError, ""),
        # The run function raises every stepper error as the internal error, also for zero steps.
        (lambda: qk.splitting_run_rust(np.array([]), np.zeros(1), np.zeros(1), np.zeros(1), 1, 0.0, 0.0, 0.01, 0),
         PANIC, 'stepper init failed: InvalidDimension("n must be > 0")'),
        (lambda: qk.splitting_run_rust(np.zeros(2), np.zeros(2), np.zeros(4), np.zeros(4), 2, 0.0, 0.0, -0.01, 0),
         PANIC, 'stepper init failed: InvalidConfig("dt must be positive finite, got -0.01")'),
        (lambda: qk.splitting_run_rust(np.zeros(2), np.arange(4.0)[::2], np.zeros(4), np.zeros(4), 2, 0.0, 0.0, 0.0, 1),
         ValueError, NOT_CONTIG),
        (lambda: qk.splitting_run_rust(np.arange(4.0)[::2], np.zeros(2), np.zeros(4), np.zeros(4), 2, 0.0, 0.0, 0.0, 1),
         ValueError, NOT_CONTIG),
        (lambda: qk.splitting_run_rust(np.zeros(2), np.zeros(2), np.zeros(4), np.zeros(4), -1, 0.0, 0.0, 0.01, 1),
         OverflowError, ""),
    ],
)
def test_construction_and_run_function_failures(make, exc, message):
    with pytest.raises(exc) as e:
        make()
    if message:
        assert str(e.value) == message


@pytest.mark.parametrize("n_arg", [0, 3, 1000, 2**64 - 1])
def test_run_function_ignores_its_n(n_arg):
    phases, omegas, knm, alpha = network(4, lag="all")
    expect = qk.PySplittingStepper(4, 0.05).run(phases, omegas, knm, alpha, 0.6, 2.5, 3)
    assert bits(qk.splitting_run_rust(phases, omegas, knm, alpha, n_arg, 0.6, 2.5, 0.05, 3)) == bits(expect)
