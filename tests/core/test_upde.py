import inspect
import math
import os
import struct
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import qel_kernel as q
from reference import upde as ref

TWO_PI = 6.283185307179586


def bits(values):
    return [struct.pack("<d", float(v)) for v in values]


def floats(values):
    return [float(v) for v in values]


def network(n, seed, lags=True, zeta=0.0):
    rng = np.random.default_rng(seed)
    phases = rng.uniform(-1.0, 7.0, n)
    omegas = rng.normal(1.0, 0.5, n)
    knm = rng.uniform(-0.5, 1.5, n * n)
    alpha = rng.uniform(-0.4, 0.4, n * n) if lags else np.zeros(n * n)
    return phases, omegas, knm, zeta, 0.7, alpha


def ref_step(stepper, phases, omegas, knm, zeta, psi, alpha):
    """One reference step; returns (phases, knm) as lists."""
    k = floats(knm)
    out = stepper.step(floats(phases), floats(omegas), k, zeta, psi, floats(alpha))
    return out, k


# ---------------------------------------------------------------------------
# Construction


def test_signatures_and_docs():
    assert str(inspect.signature(q.PyUPDEStepper)) == "(n, dt=0.01, method='euler', n_substeps=1, atol=1e-06, rtol=0.001)"
    s = q.PyUPDEStepper
    assert s.step.__text_signature__ == "($self, phases, omegas, knm, zeta, psi, alpha)"
    assert s.run.__text_signature__ == "($self, phases, omegas, knm, zeta, psi, alpha, n_steps)"
    assert s.set_plasticity.__text_signature__ == "($self, lr, decay=0.0, modulator=1.0)"
    assert s.step.__doc__ == "Advance phases by one step. Returns new phases as numpy array."
    assert s.run.__doc__ == "Run n_steps. Returns final phases as numpy array."


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((3,), {"method": "RK4"}, "unknown method: RK4"),
        ((0,), {"method": "RK4"}, "unknown method: RK4"),
        ((3,), {"method": " euler"}, "unknown method:  euler"),
        ((0,), {}, "invalid dimension: n must be > 0"),
        ((0,), {"dt": -1.0}, "invalid dimension: n must be > 0"),
        ((3,), {"dt": 0.0}, "invalid config: dt must be positive finite, got 0"),
        ((3,), {"dt": -0.0}, "invalid config: dt must be positive finite, got -0"),
        ((3,), {"dt": math.nan}, "invalid config: dt must be positive finite, got NaN"),
        ((3,), {"dt": -1e-7, "n_substeps": 0}, "invalid config: dt must be positive finite, got -0.0000001"),
        ((3,), {"n_substeps": 0}, "invalid config: n_substeps must be >= 1"),
        ((3,), {"atol": math.inf}, "invalid config: atol must be positive finite, got inf"),
        ((3,), {"rtol": -2.5}, "invalid config: rtol must be positive finite, got -2.5"),
        ((3,), {"method": "rk45", "atol": 1e-2, "rtol": 1e-3}, "invalid config: for RK45, rtol must be >= atol"),
    ],
)
def test_constructor_errors(args, kwargs, message):
    with pytest.raises(ValueError) as e:
        q.PyUPDEStepper(*args, **kwargs)
    assert str(e.value) == message


@pytest.mark.parametrize(
    "kwargs",
    [{"dt": 5e-324}, {"method": "rk45", "atol": 1e-3, "rtol": 1e-3}, {"method": "euler", "atol": 1e-2, "rtol": 1e-3}],
)
def test_constructor_accepts(kwargs):
    q.PyUPDEStepper(3, **kwargs)


@pytest.mark.parametrize(
    "kwargs, exc",
    [({"n": -1}, OverflowError), ({"n": 3.0}, TypeError), ({"n": 3, "n_substeps": -1}, OverflowError),
     ({"n": 3, "n_substeps": 2**32}, OverflowError), ({"n": 3, "method": 1}, TypeError)],
)
def test_constructor_conversions(kwargs, exc):
    with pytest.raises(exc):
        q.PyUPDEStepper(**kwargs)


@pytest.mark.parametrize("n", [2**62, 2**60, 2**45])
def test_huge_n_is_memory_error(n):
    with pytest.raises(MemoryError):
        q.PyUPDEStepper(n)


# ---------------------------------------------------------------------------
# Argument handling of step and run


def args3():
    return (np.array([0.1, 0.2, 0.3]), np.ones(3), np.full(9, 0.5), 0.0, 0.0, np.zeros(9))


@pytest.mark.parametrize("call", ["step", "run"])
@pytest.mark.parametrize(
    "change, exc, message",
    [
        ({0: np.arange(6.0)[::2]}, ValueError, "phases not contiguous"),
        ({0: np.arange(6.0)[::2], 1: np.arange(6.0)[::2]}, ValueError, "phases not contiguous"),
        ({1: np.arange(6.0)[::2]}, ValueError, "The given array is not contiguous or is misaligned."),
        ({2: np.arange(18.0)[::2]}, ValueError, "The given array is not contiguous or is misaligned."),
        ({5: np.arange(18.0)[::2]}, ValueError, "The given array is not contiguous or is misaligned."),
        ({0: [0.1, 0.2, 0.3]}, TypeError, None),
        ({1: np.ones(3, dtype=np.float32)}, TypeError, None),
        ({2: np.ones((3, 3))}, TypeError, None),
        ({3: "x"}, TypeError, None),
    ],
)
def test_conversion_and_contiguity(call, change, exc, message):
    s = q.PyUPDEStepper(3)
    a = list(args3())
    for k, v in change.items():
        a[k] = v
    extra = (1,) if call == "run" else ()
    with pytest.raises(exc) as e:
        getattr(s, call)(*a, *extra)
    if message is not None:
        assert str(e.value) == message
    else:
        names = ["phases", "omegas", "knm", "zeta", "psi", "alpha"]
        assert getattr(e.value, "__notes__", []) == [f"while processing '{names[min(change)]}'"]


@pytest.mark.parametrize("call", ["step", "run"])
@pytest.mark.parametrize("clash", ["readonly", "phases", "omegas", "alpha", "view_of_omegas"])
def test_knm_must_be_writeable_and_unshared(call, clash):
    s = q.PyUPDEStepper(3)
    s.set_plasticity(1.0, 0.5)  # would write knm if the step ran
    phases, omegas, knm, zeta, psi, alpha = args3()
    if clash == "readonly":
        knm.flags.writeable = False
    elif clash == "phases":
        knm = np.full(9, 0.5)
        phases = knm  # wrong length too, but the refusal must come first
    elif clash == "omegas":
        omegas = knm
    elif clash == "alpha":
        alpha = knm
    else:
        big = np.full(12, 0.5)
        omegas, knm = big[:3], big[2:11]
    before = knm.copy()
    other = (phases.copy(), omegas.copy(), alpha.copy())
    extra = (1,) if call == "run" else ()
    with pytest.raises(ValueError):
        getattr(s, call)(phases, omegas, knm, zeta, psi, alpha, *extra)
    assert knm.tobytes() == before.tobytes()
    assert [x.tobytes() for x in (phases, omegas, alpha)] == [x.tobytes() for x in other]


@pytest.mark.parametrize(
    "change, message",
    [
        ({0: np.zeros(2)}, "invalid dimension: expected 3, got phases=2 omegas=3"),
        ({0: np.zeros(2), 2: np.zeros(4)}, "invalid dimension: expected 3, got phases=2 omegas=3"),
        ({1: np.zeros(4), 0: np.full(3, np.nan)}, "invalid dimension: expected 3, got phases=3 omegas=4"),
        ({2: np.zeros(4)}, "invalid dimension: expected 9=3*3, got knm=4 alpha=9"),
        ({5: np.zeros(0)}, "invalid dimension: expected 9=3*3, got knm=9 alpha=0"),
        ({2: np.zeros(4), 0: np.full(3, np.nan)}, "invalid dimension: expected 9=3*3, got knm=4 alpha=9"),
        ({0: np.array([0.0, np.inf, 0.0]), 4: np.nan}, "integration diverged: input phases contain NaN/Inf"),
        ({1: np.array([0.0, np.nan, 0.0])}, "integration diverged: omegas/knm/alpha/modulator contain NaN/Inf"),
        ({2: np.r_[np.zeros(8), -np.inf]}, "integration diverged: omegas/knm/alpha/modulator contain NaN/Inf"),
        ({5: np.r_[np.nan, np.zeros(8)], 3: np.nan}, "integration diverged: omegas/knm/alpha/modulator contain NaN/Inf"),
        ({3: np.inf, 4: np.nan}, "integration diverged: zeta is NaN/Inf"),
        ({3: 0.0, 4: np.nan}, "integration diverged: psi is NaN/Inf"),
    ],
)
def test_engine_checks_in_order(change, message):
    s = q.PyUPDEStepper(3, method="rk45")
    s.set_plasticity(1.0, 0.5)
    a = list(args3())
    for k, v in change.items():
        a[k] = v
    knm_before = np.array(a[2]).tobytes()
    with pytest.raises(ValueError) as e:
        s.step(*a)
    assert str(e.value) == message
    assert a[2].tobytes() == knm_before
    # The stepper is unchanged: it still steps exactly like a fresh one.
    good = args3()
    fresh = q.PyUPDEStepper(3, method="rk45")
    fresh.set_plasticity(1.0, 0.5)
    k1, k2 = good[2].copy(), good[2].copy()
    assert s.step(good[0], good[1], k1, *good[3:]).tobytes() == fresh.step(good[0], good[1], k2, *good[3:]).tobytes()
    assert k1.tobytes() == k2.tobytes()


def test_step_returns_new_array_and_leaves_inputs():
    s = q.PyUPDEStepper(3)
    phases, omegas, knm, zeta, psi, alpha = args3()
    keep = [x.copy() for x in (phases, omegas, knm, alpha)]
    out1 = s.step(phases, omegas, knm, zeta, psi, alpha)
    out2 = s.step(phases, omegas, knm, zeta, psi, alpha)
    assert isinstance(out1, np.ndarray) and out1.dtype == np.float64 and out1.flags.writeable
    assert not np.shares_memory(out1, phases) and out1 is not out2
    assert out1.tobytes() == out2.tobytes()
    assert all(a.tobytes() == b.tobytes() for a, b in zip(keep, (phases, omegas, knm, alpha)))


def test_reentrant_call_is_refused():
    s = q.PyUPDEStepper(3)
    a = args3()
    seen = []

    class Sneaky:
        def __float__(self):
            try:
                s.step(*a)
            except RuntimeError as e:
                seen.append(str(e))
                raise
            return 0.0

    with pytest.raises(RuntimeError, match="Already borrowed"):
        s.step(a[0], a[1], a[2], Sneaky(), 0.0, a[5])
    with pytest.raises(RuntimeError, match="Already borrowed"):
        s.set_plasticity(Sneaky())
    assert seen == ["Already borrowed", "Already borrowed"]
    s.step(*a)  # the borrow was released


# ---------------------------------------------------------------------------
# Arithmetic against the reference


@pytest.mark.parametrize("method", ["euler", "rk4"])
@pytest.mark.parametrize(
    "n, lags, zeta, n_substeps",
    [(1, True, 0.0, 1), (1, False, 0.8, 1), (5, True, 0.0, 1), (5, True, 1.3, 3), (5, False, -0.6, 1),
     (17, False, 0.0, 2), (17, True, 0.4, 1), (256, True, 0.5, 1), (256, False, 0.5, 1), (259, False, 0.0, 1)],
)
def test_fixed_step_bit_exact(method, n, lags, zeta, n_substeps):
    if n > 200 and method == "rk4" and not lags:
        n_substeps = 1
    phases, omegas, knm, zeta, psi, alpha = network(n, n * 7 + n_substeps, lags, zeta)
    s = q.PyUPDEStepper(n, dt=0.05, method=method, n_substeps=n_substeps)
    r = ref.Stepper(n, dt=0.05, method=method, n_substeps=n_substeps)
    steps = 1 if n > 200 else 3
    ours, theirs = phases, floats(phases)
    for _ in range(steps):
        ours = s.step(ours, omegas, knm, zeta, psi, alpha)
        theirs, _ = ref_step(r, theirs, omegas, knm, zeta, psi, alpha)
        assert bits(ours) == bits(theirs)


@pytest.mark.parametrize("n", [6, 300])
def test_zero_lags_take_the_fast_path(n):
    # Lags of +0.0 and -0.0 both select the zero-lag form, which rounds
    # differently from the general form; one non-zero lag selects the latter.
    phases, omegas, knm, zeta, psi, _ = network(n, 3, lags=False)
    alpha = np.zeros(n * n)
    alpha[::2] = -0.0
    fast, _, _ = ref.derivative(floats(phases), floats(omegas), floats(knm), floats(alpha), 0.0, 0.0, fast=True)
    slow, _, _ = ref.derivative(floats(phases), floats(omegas), floats(knm), floats(alpha), 0.0, 0.0, fast=False)
    assert bits(fast) != bits(slow)
    dt = 0.25
    expect = [ref.wrap(p + d * dt) for p, d in zip(phases, fast)]
    s = q.PyUPDEStepper(n, dt=dt)
    assert bits(s.step(phases, omegas, knm, 0.0, 0.0, alpha)) == bits(expect)

    alpha[n + 1] = 1e-300
    slow, _, _ = ref.derivative(floats(phases), floats(omegas), floats(knm), floats(alpha), 0.0, 0.0, fast=False)
    expect = [ref.wrap(p + d * dt) for p, d in zip(phases, slow)]
    assert bits(s.step(phases, omegas, knm, 0.0, 0.0, alpha)) == bits(expect)


@pytest.mark.parametrize("lag", [0.0, 0.3])
def test_diagonal_is_coupled(lag):
    # One oscillator: only the j = i term, K sin(-alpha).
    s = q.PyUPDEStepper(1, dt=0.1)
    out = s.step(np.array([1.0]), np.array([0.5]), np.array([2.0]), 0.0, 0.0, np.array([lag]))
    assert out[0] == 1.0 + (math.sin(-lag) * 2.0 + 0.5) * 0.1


@pytest.mark.parametrize("zeta", [0.0, -0.0])
def test_zero_drive_ignores_psi(zeta):
    phases, omegas, knm, _, _, alpha = network(4, 11)
    s = q.PyUPDEStepper(4)
    a = s.step(phases, omegas, knm, zeta, 2.5, alpha)
    b = s.step(phases, omegas, knm, zeta, 0.0, alpha)
    assert a.tobytes() == b.tobytes()
    with pytest.raises(ValueError, match="psi is NaN/Inf"):
        s.step(phases, omegas, knm, zeta, math.inf, alpha)
    driven = s.step(phases, omegas, knm, 0.5, 2.5, alpha)
    assert driven.tobytes() != a.tobytes()


@pytest.mark.parametrize(
    "start, expect",
    [(TWO_PI, 0.0), (-1e-20, TWO_PI), (10.0, 10.0 - TWO_PI), (-1.0, TWO_PI - 1.0), (3.0, 3.0), (0.0, 0.0)],
)
def test_wrapping(start, expect):
    # No coupling, no frequency: the step only wraps.
    s = q.PyUPDEStepper(1)
    out = s.step(np.array([start]), np.zeros(1), np.zeros(1), 0.0, 0.0, np.zeros(1))
    assert bits(out) == bits([expect])


def test_euler_substeps_are_substeps():
    phases, omegas, knm, zeta, psi, alpha = network(4, 5)
    s = q.PyUPDEStepper(4, dt=0.2, n_substeps=4)
    r = ref.Stepper(4, dt=0.2, n_substeps=4)
    out = s.step(phases, omegas, knm, zeta, psi, alpha)
    assert bits(out) == bits(ref_step(r, phases, omegas, knm, zeta, psi, alpha)[0])
    one = q.PyUPDEStepper(4, dt=0.2).step(phases, omegas, knm, zeta, psi, alpha)
    assert out.tobytes() != one.tobytes()


def test_run_equals_repeated_steps():
    phases, omegas, knm, zeta, psi, alpha = network(5, 2, zeta=0.3)
    a, b = q.PyUPDEStepper(5, method="rk4"), q.PyUPDEStepper(5, method="rk4")
    x = phases
    for _ in range(7):
        x = a.step(x, omegas, knm, zeta, psi, alpha)
    assert b.run(phases, omegas, knm, zeta, psi, alpha, 7).tobytes() == x.tobytes()


@pytest.mark.parametrize(
    "phases",
    [np.array([1.0, 2.0]), np.array([np.nan, 1.0, 20.0]), np.array([]), np.array([-1.0, 7.0, 0.5])],
)
def test_run_zero_steps_returns_the_copy_unchecked(phases):
    s = q.PyUPDEStepper(3)
    s.set_plasticity(1.0, 0.0, math.nan)
    knm = np.full(9, -0.5)
    out = s.run(phases, np.ones(3), knm, 0.0, 0.0, np.zeros(9), 0)
    assert out.tobytes() == phases.tobytes() and not np.shares_memory(out, phases)
    assert (knm == -0.5).all()
    if len(phases) != 3 or not np.isfinite(phases).all():
        with pytest.raises(ValueError):
            s.run(phases, np.ones(3), knm, 0.0, 0.0, np.zeros(9), 1)


def test_run_negative_steps():
    with pytest.raises(OverflowError):
        q.PyUPDEStepper(3).run(*args3(), -1)


# ---------------------------------------------------------------------------
# Adaptive steps


def test_rk45_bit_exact_with_rejections():
    n = 6
    phases, omegas, knm, zeta, psi, alpha = network(n, 21, zeta=0.9)
    knm = knm * 4.0
    s = q.PyUPDEStepper(n, dt=0.4, method="rk45", atol=1e-9, rtol=1e-7)
    r = ref.Stepper(n, dt=0.4, method="rk45", atol=1e-9, rtol=1e-7)
    ours, theirs = phases, floats(phases)
    for _ in range(8):
        ours = s.step(ours, omegas, knm, zeta, psi, alpha)
        theirs, _ = ref_step(r, theirs, omegas, knm, zeta, psi, alpha)
        assert bits(ours) == bits(theirs)
    counts = [len(a) for a in r.attempts]
    assert max(counts) >= 2 and min(counts) == 1  # both rejections and first-try acceptances were exercised


def test_rk45_four_rejections_still_advance():
    n = 4
    phases, omegas, knm, zeta, psi, alpha = network(n, 8)
    knm = knm * 50.0
    s = q.PyUPDEStepper(n, dt=5.0, method="rk45", atol=1e-12, rtol=1e-12)
    r = ref.Stepper(n, dt=5.0, method="rk45", atol=1e-12, rtol=1e-12)
    ours, theirs = phases, floats(phases)
    for _ in range(3):
        ours = s.step(ours, omegas, knm, zeta, psi, alpha)
        theirs, _ = ref_step(r, theirs, omegas, knm, zeta, psi, alpha)
        assert bits(ours) == bits(theirs)
    assert len(r.attempts[0]) == 4 and all(err > 1.0 for _, err in r.attempts[0])
    h4, err4 = r.attempts[0][3]
    assert r.attempts[1][0][0] == h4 * max(0.9 * err4 ** -0.25, 0.2)


def test_rk45_step_size_grows_by_five_to_the_cap():
    # A constant right-hand side: the error estimate is at most rounding, so
    # each accepted step grows h by 5 until 10 dt.
    s = q.PyUPDEStepper(1, dt=0.01, method="rk45", n_substeps=8)
    r = ref.Stepper(1, dt=0.01, method="rk45")
    x, y = np.array([0.0]), [0.0]
    for _ in range(5):
        x = s.step(x, np.ones(1), np.zeros(1), 0.0, 0.0, np.zeros(1))
        y, _ = ref_step(r, y, [1.0], [0.0], 0.0, 0.0, [0.0])
        assert bits(x) == bits(y)
    hs = [a[0][0] for a in r.attempts]
    assert hs[:2] == [0.01, 0.05] and hs[2:] == [0.1, 0.1, 0.1]
    assert abs(x[0] - 0.36) < 1e-12


def test_rk45_ignores_substeps_and_adapts_between_calls():
    phases, omegas, knm, zeta, psi, alpha = network(5, 4)
    a = q.PyUPDEStepper(5, method="rk45", n_substeps=1)
    b = q.PyUPDEStepper(5, method="rk45", n_substeps=8)
    ra = [a.step(phases, omegas, knm, zeta, psi, alpha) for _ in range(3)]
    rb = [b.step(phases, omegas, knm, zeta, psi, alpha) for _ in range(3)]
    assert [x.tobytes() for x in ra] == [x.tobytes() for x in rb]
    assert ra[0].tobytes() != ra[1].tobytes()  # last_dt changed between the calls


def test_rk45_nan_ratio_is_skipped_then_refused():
    # omega = 1e308 overflows the later stages to inf/NaN; the NaN error ratio
    # is skipped, so the first attempt is accepted, and the next step refuses
    # the NaN phase.
    s = q.PyUPDEStepper(1, dt=1.0, method="rk45")
    r = ref.Stepper(1, dt=1.0, method="rk45")
    out = s.step(np.array([0.1]), np.array([1e308]), np.zeros(1), 0.0, 0.0, np.zeros(1))
    with np.errstate(all="ignore"):
        expect, _ = ref_step(r, [0.1], [1e308], [0.0], 0.0, 0.0, [0.0])
    assert math.isnan(out[0]) and math.isnan(expect[0])
    assert r.attempts == [[(1.0, 0.0)]] and r.last_dt == 5.0
    with pytest.raises(ValueError, match="input phases contain NaN/Inf"):
        s.step(out, np.array([1.0]), np.zeros(1), 0.0, 0.0, np.zeros(1))


# ---------------------------------------------------------------------------
# Plasticity


@pytest.mark.parametrize("method, n_substeps", [("euler", 1), ("euler", 3), ("rk4", 2), ("rk45", 1)])
@pytest.mark.parametrize("lags", [True, False])
def test_plasticity_bit_exact(method, n_substeps, lags):
    n = 5
    phases, omegas, knm, zeta, psi, alpha = network(n, 31, lags, zeta=0.2)
    s = q.PyUPDEStepper(n, dt=0.05, method=method, n_substeps=n_substeps)
    r = ref.Stepper(n, dt=0.05, method=method, n_substeps=n_substeps)
    s.set_plasticity(0.7, 0.3, 1.5)
    r.set_plasticity(0.7, 0.3, 1.5)
    ours_k, theirs_k = knm.copy(), floats(knm)
    ours, theirs = phases, floats(phases)
    for _ in range(3):
        ours = s.step(ours, omegas, ours_k, zeta, psi, alpha)
        theirs = r.step(theirs, floats(omegas), theirs_k, zeta, psi, floats(alpha))
        assert bits(ours) == bits(theirs)
        assert bits(ours_k) == bits(theirs_k)


def test_plasticity_uses_the_last_evaluated_phases():
    # Euler, one substep: the Hebbian term sees the phases before the step.
    phases = np.array([0.3, 0.3 + math.pi])
    s = q.PyUPDEStepper(2, dt=0.1)
    s.set_plasticity(2.0)
    knm = np.array([0.0, 1.0, 1.0, 0.0])
    s.step(phases, np.array([5.0, -5.0]), knm, 0.0, 0.0, np.zeros(4))
    c = math.sin(phases[1]) * math.sin(phases[0]) + math.cos(phases[1]) * math.cos(phases[0])
    assert knm[1] == max(1.0 + (c * 2.0) * 0.1, 0.0)
    assert knm[1] == knm[2] and knm[0] == 0.0 and knm[3] == 0.0


def test_plasticity_zero_rates_still_clear_diagonal_and_negatives():
    s = q.PyUPDEStepper(3)
    s.set_plasticity(0.0, 0.0)
    knm = np.array([2.0, -1.0, 0.5, 0.25, 3.0, -0.0, -7.0, 1.5, -2.0])
    s.step(np.zeros(3), np.zeros(3), knm, 0.0, 0.0, np.zeros(9))
    assert bits(knm) == bits([0.0, 0.0, 0.5, 0.25, 0.0, 0.0, 0.0, 1.5, 0.0])


def test_no_plasticity_leaves_knm_alone():
    phases, omegas, knm, zeta, psi, alpha = network(4, 1)
    before = knm.copy()
    q.PyUPDEStepper(4).run(phases, omegas, knm, zeta, psi, alpha, 5)
    assert knm.tobytes() == before.tobytes()


@pytest.mark.parametrize(
    "lr, decay, ok",
    [(-0.0, -0.0, True), (0.5, 0.0, True), (0.5, -1.0, False), (math.nan, 0.0, False), (math.inf, 0.0, False),
     (-1e-300, 0.0, False), (1.0, math.inf, False)],
)
def test_set_plasticity_checks(lr, decay, ok):
    s = q.PyUPDEStepper(2)
    knm = np.array([0.0, 1.0, 1.0, 0.0])
    if ok:
        assert s.set_plasticity(lr, decay) is None
    else:
        with pytest.raises(ValueError) as e:
            s.set_plasticity(lr, decay)
        assert str(e.value) == "invalid config: lr and decay must be finite and non-negative"
        s.step(np.zeros(2), np.zeros(2), knm, 0.0, 0.0, np.zeros(4))
        assert (knm == [0.0, 1.0, 1.0, 0.0]).all()  # no plasticity was set


def test_non_finite_modulator_fails_later_steps():
    s = q.PyUPDEStepper(2)
    s.set_plasticity(1.0, 0.0, math.nan)
    knm = np.array([0.0, 1.0, 1.0, 0.0])
    for call in (lambda: s.step(np.zeros(2), np.zeros(2), knm, 0.0, 0.0, np.zeros(4)),
                 lambda: s.run(np.zeros(2), np.zeros(2), knm, 0.0, 0.0, np.zeros(4), 3)):
        with pytest.raises(ValueError) as e:
            call()
        assert str(e.value) == "integration diverged: omegas/knm/alpha/modulator contain NaN/Inf"
    s.set_plasticity(1.0, 0.0, 1.0)
    s.step(np.zeros(2), np.zeros(2), knm, 0.0, 0.0, np.zeros(4))
    assert knm[1] > 1.0


def test_failing_run_keeps_earlier_plasticity():
    # The first step overflows a phase to inf (wrapped to NaN); the second refuses it.
    s = q.PyUPDEStepper(2, dt=10.0)
    r = ref.Stepper(2, dt=10.0)
    s.set_plasticity(0.1, 0.01)
    r.set_plasticity(0.1, 0.01)
    omegas = np.array([1.7e308, 0.0])
    knm = np.array([0.0, 1.0, 1.0, 0.0])
    expect = floats(knm)
    r.step([0.5, 1.0], [float(w) for w in omegas], expect, 0.0, 0.0, [0.0] * 4)
    with pytest.raises(ValueError, match="input phases contain NaN/Inf"):
        s.run(np.array([0.5, 1.0]), omegas, knm, 0.0, 0.0, np.zeros(4), 3)
    assert bits(knm) == bits(expect) and knm[1] != 1.0


# ---------------------------------------------------------------------------
# Threads


SUBPROCESS = textwrap.dedent(
    """
    import os, sys
    os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
    import numpy as np, qel_kernel as q
    n, lags = int(sys.argv[1]), sys.argv[2] == "1"
    rng = np.random.default_rng(n)
    phases = rng.uniform(0, 6, n); omegas = rng.normal(1, 1, n); knm = rng.uniform(0, 1, n * n)
    alpha = rng.uniform(-1, 1, n * n) if lags else np.zeros(n * n)
    s = q.PyUPDEStepper(n, method="rk4")
    sys.stdout.write(s.run(phases, omegas, knm, 0.3, 1.0, alpha, 2).tobytes().hex())
    """
)


@pytest.mark.parametrize("n, lags", [(255, True), (256, True), (300, True), (300, False)])
def test_results_do_not_depend_on_worker_count(n, lags):
    rng = np.random.default_rng(n)
    phases = rng.uniform(0, 6, n)
    omegas = rng.normal(1, 1, n)
    knm = rng.uniform(0, 1, n * n)
    alpha = rng.uniform(-1, 1, n * n) if lags else np.zeros(n * n)
    here = q.PyUPDEStepper(n, method="rk4").run(phases, omegas, knm, 0.3, 1.0, alpha, 2)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    pinned = subprocess.run([sys.executable, "-c", SUBPROCESS, str(n), "1" if lags else "0"], env=env,
                            capture_output=True, text=True, check=True).stdout
    assert bytes.fromhex(pinned) == here.tobytes()


def test_general_path_same_bits_serial_and_parallel():
    # The general row sum is plain column order on both sides of the threshold:
    # the first 255 oscillators of a 256 network, uncoupled from the last one,
    # step exactly like the 255 network alone.
    n = 256
    phases, omegas, knm, zeta, psi, alpha = network(n, 9, lags=True, zeta=0.4)
    knm = knm.reshape(n, n)
    knm[:, -1] = 0.0
    knm[-1, :] = 0.0
    small = [phases[:-1], omegas[:-1], knm[:-1, :-1].ravel().copy(), zeta, psi,
             alpha.reshape(n, n)[:-1, :-1].ravel().copy()]
    big = q.PyUPDEStepper(n).step(phases, omegas, knm.ravel(), zeta, psi, alpha)
    alone = q.PyUPDEStepper(n - 1).step(*small)
    assert big[:-1].tobytes() == alone.tobytes()
