"""The Strang splitting stepper: its arithmetic and caches against the reference, its checks and its runs."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference.order_params import order_parameter as ref_order_parameter
from reference.splitting import strang_step
from support import TWO_PI, bits, internal_error, wrap


def network(n, lag=None, seed=1):
    """Phases partly outside [0, 2pi) and lags of zeros (some negative), with 0.25 at flat index `lag`, or random
    everywhere for lag == "all"."""
    rng = np.random.default_rng(seed)
    alpha = np.where(np.arange(n * n) % 3 == 0, -0.0, 0.0)
    if lag == "all":
        alpha = rng.uniform(-0.5, 0.5, n * n)
    elif lag is not None:
        alpha[lag] = 0.25
    return rng.uniform(-7.0, 13.0, n), rng.uniform(-2.0, 3.0, n), rng.uniform(-1.0, 2.0, n * n), alpha


@pytest.mark.parametrize(
    "n, lag, zeta, psi, dt, n_arg",
    [
        (1, None, 0.0, 0.0, 0.01, 0),
        (1, 0, 0.7, 1.1, 0.05, 1),
        (3, None, 0.4, 2.0, 0.01, 2**64 - 1),  # the run function's n is converted and ignored
        (3, 8, -0.0, 5.0, 0.02, 3),  # the one lag in the last entry; a -0.0 zeta adds no drive
        (9, None, 0.3, -0.5, 0.01, 9),  # eight rows side by side, and one more
        (9, "all", 0.0, 0.0, 0.03, 100),
        (17, None, 1.5, 4.0, 0.1, 17),
        (17, "all", 0.2, 0.3, 0.01, 0),
    ],
)
def test_steps_runs_and_caches_match_the_reference(n, lag, zeta, psi, dt, n_arg):
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
    assert bits(qk.splitting_run_rust(phases, omegas, knm, alpha, n_arg, zeta, psi, dt, 4)) == bits(a)


def test_stage_states_are_wrapped():
    # Within the step the field carries oscillator 0 past 2pi and oscillator 2 below 0: the stages (and so the
    # caches) hold wrapped states; the sines of unwrapped ones differ in the last bits.
    phases, omegas, knm, alpha = np.array([TWO_PI - 1e-3, 1.0, 1e-3, 5.0]), np.zeros(4), np.full(16, 10.0), np.zeros(16)
    s = qk.PySplittingStepper(4, 0.01)
    out = s.step(phases, omegas, knm, alpha, 0.0, 0.0)
    ref, stage = strang_step(phases, omegas, knm, alpha, 0.0, 0.0, 0.01)
    assert bits(out) == bits(ref) and s.order_parameter() == ref_order_parameter(stage)


def test_without_a_field_a_step_is_two_wrapped_half_drifts():
    phases, omegas, dt = np.array([6.2, -0.3, 1.0, 12.0]), np.array([40.0, -25.0, 0.0, 3.0]), 0.01
    s = qk.PySplittingStepper(4, dt)
    out = s.step(phases, omegas, np.zeros(16), np.zeros(16), 0.0, 1.0)
    assert bits(out) == bits(wrap(omegas * (0.5 * dt) + wrap(omegas * (0.5 * dt) + phases)))
    assert s.order_parameter() == ref_order_parameter(wrap(omegas * (0.5 * dt) + phases))


def test_runs_read_only_what_they_need():
    phases, omegas, knm, alpha = network(3, lag=4)
    s = qk.PySplittingStepper(3, 0.01)
    expect = s.run(phases, omegas, knm, alpha, 0.2, 0.3, 3)
    out = s.run(np.append(phases, [-9.0, 1e300]), np.append(omegas, 7.0), np.append(knm, 1.0), np.append(alpha, 5.0),
                0.2, 0.3, 3)
    assert bits(out) == bits(np.append(expect, [-9.0, 1e300]))
    # Lags that are all zero are only scanned, an empty array included; zero steps read nothing and wrap nothing.
    zero = s.run(phases, omegas, knm, np.zeros(9), 0.2, 0.3, 3)
    assert bits(s.run(phases, omegas, knm, np.array([-0.0]), 0.2, 0.3, 3)) == bits(zero)
    assert bits(qk.splitting_run_rust(phases, omegas, knm, np.array([]), 3, 0.2, 0.3, 0.01, 3)) == bits(zero)
    assert bits(s.run(phases, np.array([]), np.array([]), np.array([1.0]), 0.4, 0.1, 0)) == bits(phases)
    # Non-finite values pass: a NaN psi matters only with a drive.
    assert np.all(np.isnan(s.run(phases, omegas, knm, alpha, 0.5, math.nan, 1)))
    assert bits(s.run(phases, omegas, knm, alpha, 0.0, math.nan, 1)) == bits(s.run(phases, omegas, knm, alpha, 0.0, 0.7, 1))


@pytest.mark.parametrize(
    "change, message",
    [
        ({"phases": np.array([0.1, math.nan])}, "invalid dimension: expected phases and omegas length 3, got 2/3"),
        ({"phases": np.array([])}, "invalid dimension: expected phases and omegas length 3, got 0/3"),
        ({"knm": np.full(8, math.nan)}, "invalid dimension: expected knm/alpha length 9 got 8/9"),
        ({"alpha": np.zeros(10)}, "invalid dimension: expected knm/alpha length 9 got 9/10"),
        ({"psi": math.nan}, "integration diverged: splitting step inputs contain NaN/Inf"),
        ({"alpha": np.array([0.0] * 8 + [math.inf])}, "integration diverged: splitting step inputs contain NaN/Inf"),
        ({"omegas": np.arange(6.0)[::2], "phases": np.arange(6.0)[::2]}, "phases not contiguous"),
        ({"alpha": np.arange(18.0)[::2], "knm": np.zeros(3)}, "The given array is not contiguous or is misaligned."),
    ],
)
def test_step_refusals_in_order_change_nothing(change, message):
    args = dict(zip(("phases", "omegas", "knm", "alpha"), network(3, lag=2)), zeta=0.3, psi=0.2)
    s = qk.PySplittingStepper(3, 0.01)
    first, op = s.step(**args), s.order_parameter()
    with pytest.raises(ValueError) as e:
        s.step(**{**args, **change})
    assert str(e.value) == message
    assert s.order_parameter() == op and bits(s.step(**args)) == bits(first)


@pytest.mark.parametrize(
    "name, short, need",
    [("phases", np.zeros(2), 3), ("omegas", np.zeros(2), 3), ("knm", np.zeros(8), 9), ("alpha", np.array([0.0, 0.5]), 9)],
)
def test_run_shortfalls_are_internal_errors_and_leave_the_object_usable(name, short, need):
    args = dict(zip(("phases", "omegas", "knm", "alpha"), network(3)), zeta=0.3, psi=0.2, n_steps=2)
    s = qk.PySplittingStepper(3, 0.01)
    message = f"{name} has {len(short)} entries, fewer than the {need} a step reads"
    assert internal_error(lambda: s.run(**{**args, name: short})) == message
    if name != "phases":  # the run function's n is the length of phases
        a = {**args, name: short}
        call = lambda: qk.splitting_run_rust(a["phases"], a["omegas"], a["knm"], a["alpha"], 3, 0.3, 0.2, 0.01, 2)  # noqa: E731
        assert internal_error(call) == message
    assert bits(s.run(**args)) == bits(qk.PySplittingStepper(3, 0.01).run(**args))


def test_construction_failures():
    for n, dt, message in [(0, -1.0, "invalid dimension: n must be > 0"),
                           (2, 0.0, "invalid config: dt must be positive finite, got 0")]:
        with pytest.raises(ValueError, match=f"^{message}$"):
            qk.PySplittingStepper(n, dt)
    assert internal_error(lambda: qk.PySplittingStepper(2**60)) == "capacity overflow"
    # The run function raises every stepper error as the internal error, also for zero steps.
    z = np.zeros(4)
    assert internal_error(lambda: qk.splitting_run_rust(z[:0], z, z, z, 1, 0.0, 0.0, 0.01, 0)) == \
        'stepper init failed: InvalidDimension("n must be > 0")'
    assert internal_error(lambda: qk.splitting_run_rust(z[:2], z[:2], z, z, 2, 0.0, 0.0, -0.01, 0)) == \
        'stepper init failed: InvalidConfig("dt must be positive finite, got -0.01")'
