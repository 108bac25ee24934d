import math

import numpy as np
import pytest

import qel_kernel as q
from reference import upde as ref
from support import TWO_PI, bits, lockstep, wrap

DIVERGED = "integration diverged: omegas/knm/alpha/modulator contain NaN/Inf"
BAD_PHASES = "integration diverged: input phases contain NaN/Inf"


def network(n, seed, lags=True, zeta=0.0):
    rng = np.random.default_rng(seed)
    return (rng.uniform(-1.0, 7.0, n), rng.normal(1.0, 0.5, n), rng.uniform(-0.5, 1.5, n * n), zeta, 0.7,
            rng.uniform(-0.4, 0.4, n * n) if lags else np.zeros(n * n))


def against_reference(net, steps, plasticity=None, **cfg):
    """Ours and the reference in lockstep: the bits of phases and knm after every step."""
    phases, omegas, knm, zeta, psi, alpha = net
    s, r = q.PyUPDEStepper(len(phases), **cfg), ref.Stepper(len(phases), **cfg)
    if plasticity:
        s.set_plasticity(*plasticity)
        r.set_plasticity(*plasticity)
    k = knm.copy()
    out = lockstep(lambda y: s.step(y, omegas, knm, zeta, psi, alpha), lambda y: r.step(y, omegas, k, zeta, psi, alpha),
                   phases, steps, (knm, k))
    return r, out


def args3():
    return [np.array([0.1, 0.2, 0.3]), np.ones(3), np.full(9, 0.5), 0.0, 0.0, np.zeros(9)]


@pytest.mark.parametrize("name", ["step", "run"])
@pytest.mark.parametrize(
    "change, exc, message",
    [
        ({0: np.arange(6.0)[::2], 3: "x"}, TypeError, "must be real number, not str"),  # conversions come first
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
    knm_before = bits(a[2])
    with pytest.raises(exc) as e:
        getattr(s, name)(*a, *((1,) if name == "run" else ()))
    assert str(e.value) == message and bits(a[2]) == knm_before
    ka, kb = args3(), args3()  # the stepper is unchanged: it still steps exactly like a fresh one
    assert bits(s.step(*ka)) == bits(fresh.step(*kb)) and bits(ka[2]) == bits(kb[2])


@pytest.mark.parametrize("n", [16, 300])
@pytest.mark.parametrize("lags", [True, False])
@pytest.mark.parametrize("bad, zeta, where", [(np.nan, 0.5, 2), (np.inf, np.nan, 2), (-np.inf, 0.5, 2),
                                              (np.nan, 0.5, 5), (np.inf, 0.5, 5)])
def test_non_finite_coupling_or_lag_inside(n, lags, bad, zeta, where):
    # The value sits in the middle of a row, in the column of a phase whose sine is exactly 0 (inf * 0 is NaN,
    # never a finite sum); a NaN zeta is reported after it. Nothing changes: knm, the phases, the stepper.
    phases, omegas, knm, _, psi, alpha = network(n, 4, lags)
    phases[n // 2] = 0.0
    (knm, alpha)[where == 5][(n // 3) * n + n // 2] = bad
    s = q.PyUPDEStepper(n, method="rk4")
    s.set_plasticity(0.5, 0.1)
    before = bits(phases), bits(knm)
    for call in (lambda: s.step(phases, omegas, knm, zeta, psi, alpha), lambda: s.run(phases, omegas, knm, zeta, psi,
                                                                                       alpha, 3)):
        with pytest.raises(ValueError, match=DIVERGED.replace("/", ".")):
            call()
        assert (bits(phases), bits(knm)) == before
    (knm, alpha)[where == 5][(n // 3) * n + n // 2] = 0.25
    fresh = q.PyUPDEStepper(n, method="rk4")
    fresh.set_plasticity(0.5, 0.1)
    k2 = knm.copy()
    assert bits(s.step(phases, omegas, knm, 0.5, psi, alpha)) == bits(fresh.step(phases, omegas, k2, 0.5, psi, alpha))


@pytest.mark.parametrize("n", [16, 300])
def test_finite_couplings_whose_sums_overflow_are_accepted(n):
    phases, omegas, knm, _, psi, alpha = network(n, 5, lags=False)
    out = q.PyUPDEStepper(n).step(phases, omegas, np.full(n * n, 1e308), 0.0, psi, alpha)
    assert not np.isfinite(out).all()


@pytest.mark.parametrize("method", ["euler", "rk4"])
@pytest.mark.parametrize(
    "n, lags, zeta, n_substeps",
    # n = 1: the diagonal term alone; zeta = -0.0: no drive; 255 and 256 straddle the worker pool's threshold.
    [(1, True, -0.0, 1), (1, False, 0.0, 1), (5, True, 1.3, 3), (5, False, -0.6, 1), (255, True, 0.5, 1),
     (256, True, 0.5, 1), (259, False, 0.0, 1)],
)
def test_fixed_step_bit_exact(method, n, lags, zeta, n_substeps):
    against_reference(network(n, n * 7 + n_substeps, lags, zeta), 1 if n > 200 else 3, dt=0.05, method=method,
                      n_substeps=n_substeps)


@pytest.mark.parametrize("n, lag_at", [(6, 7), (6, 35), (300, 301), (300, 300 * 300 - 1)])
def test_zero_lags_take_the_fast_path(n, lag_at):
    # Lags of +0.0 and -0.0 both select the zero-lag form, which rounds differently from the general form; one
    # non-zero lag, early or in the last row, selects the latter.
    phases, omegas, knm, _, _, _ = network(n, 3, lags=False)
    alpha = np.zeros(n * n)
    alpha[::2] = -0.0
    s = q.PyUPDEStepper(n, dt=0.25)

    def deriv(fast):
        return np.array(ref.derivative(list(phases), list(omegas), list(knm), list(alpha), 0.0, 0.0, fast=fast)[0])

    assert bits(deriv(True)) != bits(deriv(False))
    assert bits(s.step(phases, omegas, knm, 0.0, 0.0, alpha)) == bits(wrap(phases + deriv(True) * 0.25))
    alpha[lag_at] = 1e-300
    assert bits(s.step(phases, omegas, knm, 0.0, 0.0, alpha)) == bits(wrap(phases + deriv(False) * 0.25))


def test_wrapping_edges():
    # No coupling, no frequency: the step only wraps.
    out = q.PyUPDEStepper(3).step(np.array([TWO_PI, -1e-20, -2.5]), np.zeros(3), np.zeros(9), 0.0, 0.0, np.zeros(9))
    assert bits(out) == bits([0.0, TWO_PI, TWO_PI - 2.5])


@pytest.mark.parametrize("seed, scale, dt, atol, rtol, steps", [(21, 4.0, 0.4, 1e-9, 1e-7, 8),
                                                                 (8, 50.0, 5.0, 1e-12, 1e-12, 3)])
def test_rk45_bit_exact_with_rejections(seed, scale, dt, atol, rtol, steps):
    phases, omegas, knm, zeta, psi, alpha = network(6, seed, zeta=0.9)
    r, _ = against_reference((phases, omegas, knm * scale, zeta, psi, alpha), steps, dt=dt, method="rk45",
                             atol=atol, rtol=rtol)
    counts = [len(a) for a in r.attempts]
    if steps == 8:
        assert max(counts) >= 2 and min(counts) == 1  # both rejections and first-try acceptances
    else:
        # Four rejections still advance, with the step size the last rejection chose.
        assert counts[0] == 4 and all(err > 1.0 for _, err in r.attempts[0])
        h4, err4 = r.attempts[0][3]
        assert r.attempts[1][0][0] == h4 * max(0.9 * err4 ** -0.25, 0.2)


def test_rk45_step_size_grows_by_five_to_the_cap_ignoring_substeps():
    # A constant right-hand side: the error estimate is at most rounding, so each accepted step grows h by 5 until
    # 10 dt. n_substeps plays no part.
    r, x = against_reference((np.zeros(1), np.ones(1), np.zeros(1), 0.0, 0.0, np.zeros(1)), 5, dt=0.01,
                             method="rk45", n_substeps=8)
    assert [a[0][0] for a in r.attempts] == [0.01, 0.05, 0.1, 0.1, 0.1]
    assert abs(x[0] - 0.36) < 1e-12


def test_rk45_nan_ratio_is_skipped_then_refused():
    # omega = 1e308 overflows the later stages to inf/NaN; the NaN error ratio is skipped, so the first attempt is
    # accepted, and the next step refuses the NaN phase.
    s = q.PyUPDEStepper(1, dt=1.0, method="rk45")
    r = ref.Stepper(1, dt=1.0, method="rk45")
    out = s.step(np.array([0.1]), np.array([1e308]), np.zeros(1), 0.0, 0.0, np.zeros(1))
    assert math.isnan(out[0]) and math.isnan(r.step([0.1], [1e308], np.zeros(1), 0.0, 0.0, [0.0])[0])
    assert r.attempts == [[(1.0, 0.0)]] and r.last_dt == 5.0
    with pytest.raises(ValueError, match=BAD_PHASES):
        s.step(out, np.array([1.0]), np.zeros(1), 0.0, 0.0, np.zeros(1))


@pytest.mark.parametrize("method, n_substeps", [("euler", 1), ("euler", 3), ("rk4", 2), ("rk45", 1)])
@pytest.mark.parametrize("lags", [True, False])
def test_plasticity_bit_exact(method, n_substeps, lags):
    against_reference(network(5, 31, lags, zeta=0.2), 3, (0.7, 0.3, 1.5), dt=0.05, method=method,
                      n_substeps=n_substeps)


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
