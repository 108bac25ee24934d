import math
import os
import struct
import subprocess
import sys

import numpy as np
import pytest

import qel_kernel as q
from reference import upde as ref

TWO_PI = 6.283185307179586
DIVERGED = "integration diverged: omegas/knm/alpha/modulator contain NaN/Inf"
BAD_PHASES = "integration diverged: input phases contain NaN/Inf"


def bits(values):
    return [struct.pack("<d", float(v)) for v in values]


def floats(values):
    return [float(v) for v in values]


def network(n, seed, lags=True, zeta=0.0):
    rng = np.random.default_rng(seed)
    return (rng.uniform(-1.0, 7.0, n), rng.normal(1.0, 0.5, n), rng.uniform(-0.5, 1.5, n * n), zeta, 0.7,
            rng.uniform(-0.4, 0.4, n * n) if lags else np.zeros(n * n))


def args3():
    return [np.array([0.1, 0.2, 0.3]), np.ones(3), np.full(9, 0.5), 0.0, 0.0, np.zeros(9)]


def lockstep(net, steps, plasticity=None, **cfg):
    """Steps ours and the reference side by side, comparing the bits of phases and knm after each step."""
    phases, omegas, knm, zeta, psi, alpha = net
    s, r = q.PyUPDEStepper(len(phases), **cfg), ref.Stepper(len(phases), **cfg)
    if plasticity:
        s.set_plasticity(*plasticity)
        r.set_plasticity(*plasticity)
    ours, theirs, k = phases, floats(phases), floats(knm)
    for _ in range(steps):
        ours = s.step(ours, omegas, knm, zeta, psi, alpha)
        theirs = r.step(theirs, floats(omegas), k, zeta, psi, floats(alpha))
        assert bits(ours) == bits(theirs) and bits(knm) == bits(k)
    return r, ours


@pytest.mark.parametrize(
    "n, kwargs, message",
    [
        (0, {"method": "RK4"}, "unknown method: RK4"),
        (0, {"dt": -1.0}, "invalid dimension: n must be > 0"),
        (3, {"dt": -0.0}, "invalid config: dt must be positive finite, got -0"),
        (3, {"dt": math.nan}, "invalid config: dt must be positive finite, got NaN"),
        (3, {"dt": -1e-7, "n_substeps": 0}, "invalid config: dt must be positive finite, got -0.0000001"),
        (3, {"n_substeps": 0}, "invalid config: n_substeps must be >= 1"),
        (3, {"atol": math.inf}, "invalid config: atol must be positive finite, got inf"),
        (3, {"rtol": -2.5}, "invalid config: rtol must be positive finite, got -2.5"),
        (3, {"method": "rk45", "atol": 1e-2, "rtol": 1e-3}, "invalid config: for RK45, rtol must be >= atol"),
        (3, {"method": "rk45", "atol": 1e-3, "rtol": 1e-3}, None),
        (3, {"atol": 1e-2, "rtol": 1e-3}, None),
        (3, {"dt": 5e-324}, None),
    ],
)
def test_constructor_checks_in_order(n, kwargs, message):
    if message is None:
        q.PyUPDEStepper(n, **kwargs)
        return
    with pytest.raises(ValueError) as e:
        q.PyUPDEStepper(n, **kwargs)
    assert str(e.value) == message


def test_huge_n_is_memory_error():
    with pytest.raises(MemoryError):
        q.PyUPDEStepper(2**62)


def call(s, name, a):
    return getattr(s, name)(*a, *((1,) if name == "run" else ()))


@pytest.mark.parametrize("name", ["step", "run"])
@pytest.mark.parametrize(
    "change, exc, message",
    [
        ({0: np.arange(6.0)[::2], 1: np.arange(6.0)[::2]}, ValueError, "phases not contiguous"),
        ({0: np.arange(6.0)[::2], 3: "x"}, TypeError, "must be real number, not str"),  # conversions come first
        ({5: np.arange(18.0)[::2]}, ValueError, "The given array is not contiguous or is misaligned."),
        ({0: np.zeros(2), 2: np.zeros(4)}, ValueError, "invalid dimension: expected 3, got phases=2 omegas=3"),
        ({2: np.zeros(4), 0: np.full(3, np.nan)}, ValueError, "invalid dimension: expected 9=3*3, got knm=4 alpha=9"),
        ({0: np.array([0.0, np.inf, 0.0]), 4: np.nan}, ValueError, BAD_PHASES),
        ({2: np.r_[np.zeros(8), -np.inf]}, ValueError, DIVERGED),
        ({5: np.r_[np.nan, np.zeros(8)], 3: np.nan}, ValueError, DIVERGED),
        ({3: np.inf, 4: np.nan}, ValueError, "integration diverged: zeta is NaN/Inf"),
        ({3: 0.0, 4: np.nan}, ValueError, "integration diverged: psi is NaN/Inf"),
    ],
)
def test_argument_checks_in_order(name, change, exc, message):
    s, fresh = q.PyUPDEStepper(3, method="rk45"), q.PyUPDEStepper(3, method="rk45")
    s.set_plasticity(1.0, 0.5)
    fresh.set_plasticity(1.0, 0.5)
    a = args3()
    for k, v in change.items():
        a[k] = v
    knm_before = np.array(a[2]).tobytes()
    with pytest.raises(exc) as e:
        call(s, name, a)
    assert str(e.value) == message and a[2].tobytes() == knm_before
    # The stepper is unchanged: it still steps exactly like a fresh one.
    ka, kb = args3(), args3()
    assert s.step(*ka).tobytes() == fresh.step(*kb).tobytes() and ka[2].tobytes() == kb[2].tobytes()


@pytest.mark.parametrize("name", ["step", "run"])
@pytest.mark.parametrize("clash", ["readonly", 0, 1, 5, "view_of_omegas"])
def test_knm_must_be_writeable_and_unshared(name, clash):
    s = q.PyUPDEStepper(3)
    s.set_plasticity(1.0, 0.5)  # would write knm if the step ran
    a = args3()
    if clash == "readonly":
        a[2].flags.writeable = False
    elif clash == "view_of_omegas":
        big = np.full(12, 0.5)
        a[1], a[2] = big[:3], big[2:11]
    else:
        a[clash] = a[2]  # as phases it has the wrong length too, but the refusal must come first
    before = [np.array(x) for x in a]
    with pytest.raises(ValueError):
        call(s, name, a)
    assert [np.asarray(x).tobytes() for x in a] == [x.tobytes() for x in before]


def test_reentrant_call_is_refused():
    s = q.PyUPDEStepper(3)
    a = args3()

    class Sneaky:
        def __float__(self):
            s.step(*a)  # must raise: the outer call holds the stepper
            return 0.0

    for call in (lambda: s.step(a[0], a[1], a[2], Sneaky(), 0.0, a[5]), lambda: s.set_plasticity(Sneaky())):
        with pytest.raises(RuntimeError, match="Already borrowed"):
            call()
    s.step(*a)  # the borrow was released


@pytest.mark.parametrize("method", ["euler", "rk4"])
@pytest.mark.parametrize(
    "n, lags, zeta, n_substeps",
    # n = 1: the diagonal term alone; zeta = -0.0: no drive; 255 and 256 straddle the worker pool's threshold.
    [(1, True, -0.0, 1), (1, False, 0.0, 1), (5, True, 1.3, 3), (5, False, -0.6, 1), (255, True, 0.5, 1),
     (256, True, 0.5, 1), (259, False, 0.0, 1)],
)
def test_fixed_step_bit_exact(method, n, lags, zeta, n_substeps):
    net = network(n, n * 7 + n_substeps, lags, zeta)
    lockstep(net, 1 if n > 200 else 3, dt=0.05, method=method, n_substeps=n_substeps)


@pytest.mark.parametrize("n", [6, 300])
def test_zero_lags_take_the_fast_path(n):
    # Lags of +0.0 and -0.0 both select the zero-lag form, which rounds
    # differently from the general form; one non-zero lag selects the latter.
    phases, omegas, knm, _, _, _ = network(n, 3, lags=False)
    alpha = np.zeros(n * n)
    alpha[::2] = -0.0
    s = q.PyUPDEStepper(n, dt=0.25)

    def deriv(fast):
        return ref.derivative(floats(phases), floats(omegas), floats(knm), floats(alpha), 0.0, 0.0, fast=fast)[0]

    def euler(d):
        return bits([ref.wrap(p + x * 0.25) for p, x in zip(phases, d)])

    assert bits(deriv(True)) != bits(deriv(False))
    assert bits(s.step(phases, omegas, knm, 0.0, 0.0, alpha)) == euler(deriv(True))
    alpha[n + 1] = 1e-300
    assert bits(s.step(phases, omegas, knm, 0.0, 0.0, alpha)) == euler(deriv(False))


def test_wrapping_edges():
    # No coupling, no frequency: the step only wraps.
    out = q.PyUPDEStepper(2).step(np.array([TWO_PI, -1e-20]), np.zeros(2), np.zeros(4), 0.0, 0.0, np.zeros(4))
    assert bits(out) == bits([0.0, TWO_PI])


def test_run_equals_repeated_steps_and_leaves_knm():
    phases, omegas, knm, zeta, psi, alpha = network(5, 2, zeta=0.3)
    before = knm.copy()
    a, b = q.PyUPDEStepper(5, method="rk4"), q.PyUPDEStepper(5, method="rk4")
    x = phases
    for _ in range(7):
        x = a.step(x, omegas, knm, zeta, psi, alpha)
    assert b.run(phases, omegas, knm, zeta, psi, alpha, 7).tobytes() == x.tobytes()
    assert knm.tobytes() == before.tobytes()  # no plasticity: knm untouched


def test_run_zero_steps_returns_the_copy_unchecked():
    s = q.PyUPDEStepper(3)
    s.set_plasticity(1.0, 0.0, math.nan)
    phases, knm = np.array([np.nan, 20.0]), np.full(9, -0.5)
    out = s.run(phases, np.ones(3), knm, 0.0, 0.0, np.zeros(9), 0)
    assert out.tobytes() == phases.tobytes() and not np.shares_memory(out, phases)
    assert (knm == -0.5).all()
    with pytest.raises(ValueError):
        s.run(phases, np.ones(3), knm, 0.0, 0.0, np.zeros(9), 1)



@pytest.mark.parametrize("seed, scale, dt, atol, rtol, steps", [(21, 4.0, 0.4, 1e-9, 1e-7, 8),
                                                                 (8, 50.0, 5.0, 1e-12, 1e-12, 3)])
def test_rk45_bit_exact_with_rejections(seed, scale, dt, atol, rtol, steps):
    phases, omegas, knm, zeta, psi, alpha = network(6, seed, zeta=0.9)
    r, _ = lockstep((phases, omegas, knm * scale, zeta, psi, alpha), steps, dt=dt, method="rk45", atol=atol,
                    rtol=rtol)
    counts = [len(a) for a in r.attempts]
    if steps == 8:
        assert max(counts) >= 2 and min(counts) == 1  # both rejections and first-try acceptances
    else:
        # Four rejections still advance, with the step size the last rejection chose.
        assert counts[0] == 4 and all(err > 1.0 for _, err in r.attempts[0])
        h4, err4 = r.attempts[0][3]
        assert r.attempts[1][0][0] == h4 * max(0.9 * err4 ** -0.25, 0.2)


def test_rk45_step_size_grows_by_five_to_the_cap_ignoring_substeps():
    # A constant right-hand side: the error estimate is at most rounding, so
    # each accepted step grows h by 5 until 10 dt. n_substeps plays no part.
    net = (np.zeros(1), np.ones(1), np.zeros(1), 0.0, 0.0, np.zeros(1))
    r, x = lockstep(net, 5, dt=0.01, method="rk45", n_substeps=8)
    assert [a[0][0] for a in r.attempts] == [0.01, 0.05, 0.1, 0.1, 0.1]
    assert abs(x[0] - 0.36) < 1e-12


def test_rk45_nan_ratio_is_skipped_then_refused():
    # omega = 1e308 overflows the later stages to inf/NaN; the NaN error ratio
    # is skipped, so the first attempt is accepted, and the next step refuses
    # the NaN phase.
    s = q.PyUPDEStepper(1, dt=1.0, method="rk45")
    r = ref.Stepper(1, dt=1.0, method="rk45")
    out = s.step(np.array([0.1]), np.array([1e308]), np.zeros(1), 0.0, 0.0, np.zeros(1))
    assert math.isnan(out[0]) and math.isnan(r.step([0.1], [1e308], [0.0], 0.0, 0.0, [0.0])[0])
    assert r.attempts == [[(1.0, 0.0)]] and r.last_dt == 5.0
    with pytest.raises(ValueError, match=BAD_PHASES):
        s.step(out, np.array([1.0]), np.zeros(1), 0.0, 0.0, np.zeros(1))



@pytest.mark.parametrize("method, n_substeps", [("euler", 1), ("euler", 3), ("rk4", 2), ("rk45", 1)])
@pytest.mark.parametrize("lags", [True, False])
def test_plasticity_bit_exact(method, n_substeps, lags):
    lockstep(network(5, 31, lags, zeta=0.2), 3, (0.7, 0.3, 1.5), dt=0.05, method=method, n_substeps=n_substeps)


@pytest.mark.parametrize("lr, decay", [(-0.0, -0.0), (0.5, -1.0), (math.nan, 0.0), (-1e-300, 0.0), (1.0, math.inf)])
def test_set_plasticity_checks(lr, decay):
    s = q.PyUPDEStepper(3)
    knm = np.array([2.0, -1.0, 0.5, 0.25, 3.0, -0.0, -7.0, 1.5, -2.0])
    # Zero rates still clear the diagonal and the negatives; refused rates leave no plasticity set.
    expect = bits([0.0, 0.0, 0.5, 0.25, 0.0, 0.0, 0.0, 1.5, 0.0] if lr == 0.0 else knm)
    if lr == 0.0:
        assert s.set_plasticity(lr, decay) is None
    else:
        with pytest.raises(ValueError) as e:
            s.set_plasticity(lr, decay)
        assert str(e.value) == "invalid config: lr and decay must be finite and non-negative"
    s.step(np.zeros(3), np.zeros(3), knm, 0.0, 0.0, np.zeros(9))
    assert bits(knm) == expect


def test_non_finite_modulator_fails_later_steps():
    s = q.PyUPDEStepper(2)
    s.set_plasticity(1.0, 0.0, math.nan)
    knm = np.array([0.0, 1.0, 1.0, 0.0])
    for call, extra in ((s.step, ()), (s.run, (3,))):
        with pytest.raises(ValueError) as e:
            call(np.zeros(2), np.zeros(2), knm, 0.0, 0.0, np.zeros(4), *extra)
        assert str(e.value) == DIVERGED
    s.set_plasticity(1.0, 0.0, 1.0)
    s.step(np.zeros(2), np.zeros(2), knm, 0.0, 0.0, np.zeros(4))
    assert knm[1] > 1.0


def test_failing_run_keeps_earlier_plasticity():
    # The first step overflows a phase to inf (wrapped to NaN); the second refuses it.
    s, r = q.PyUPDEStepper(2, dt=10.0), ref.Stepper(2, dt=10.0)
    s.set_plasticity(0.1, 0.01)
    r.set_plasticity(0.1, 0.01)
    knm = np.array([0.0, 1.0, 1.0, 0.0])
    expect = floats(knm)
    r.step([0.5, 1.0], [1.7e308, 0.0], expect, 0.0, 0.0, [0.0] * 4)
    with pytest.raises(ValueError, match=BAD_PHASES):
        s.run(np.array([0.5, 1.0]), np.array([1.7e308, 0.0]), knm, 0.0, 0.0, np.zeros(4), 3)
    assert bits(knm) == bits(expect) and knm[1] != 1.0



def rk4_run(n, lags):
    return q.PyUPDEStepper(n, method="rk4").run(*network(n, n, lags, zeta=0.3), 2).tobytes()


PINNED = ("import os, sys; os.sched_setaffinity(0, {min(os.sched_getaffinity(0))}); sys.path.insert(0, sys.argv[1]); "
          "import test_upde; sys.stdout.write(test_upde.rk4_run(int(sys.argv[2]), sys.argv[3] == '1').hex())")


@pytest.mark.parametrize("n, lags", [(256, True), (300, True), (300, False)])
def test_results_do_not_depend_on_worker_count(n, lags):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    pinned = subprocess.run([sys.executable, "-c", PINNED, os.path.dirname(__file__), str(n), str(int(lags))],
                            env=env, capture_output=True, text=True, check=True).stdout
    assert bytes.fromhex(pinned) == rk4_run(n, lags)
