import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import stuart_landau as ref
from support import TWO_PI, bits, same_on_one_cpu

NAN = "integration diverged: stuart-landau inputs contain NaN/Inf"
Panic = BaseException  # the module's internal error derives from BaseException only


def problem(n, lags="none", zeta=0.7, seed=0):
    """(state, (omegas, mu, knm, knm_r, alpha, zeta, psi, epsilon)); lags: none (with some -0.0), last, all."""
    rng = np.random.default_rng(seed)
    state = np.concatenate([rng.uniform(-1.0, 7.0, n), rng.uniform(-0.2, 1.5, n)])
    alpha = np.zeros(n * n)
    alpha[::3] = -0.0
    if lags == "last":
        alpha[-1] = 0.25
    elif lags == "all":
        alpha = rng.uniform(-0.5, 0.5, n * n)
    return state, (rng.normal(1.0, 0.3, n), rng.normal(0.5, 0.5, n), rng.uniform(-1, 2, n * n) / n,
                   rng.uniform(0, 1, n * n) / n, alpha, zeta, 1.3, 0.4)


def step(s, state, inputs):
    o, mu, k, kr, a, z, p, e = inputs
    return s.step(state, o, mu, k, kr, z, p, a, e)


@pytest.mark.parametrize("method,n_substeps", [("euler", 1), ("euler", 3), ("rk4", 2), ("rk45", 1), ("rk45", 4)])
@pytest.mark.parametrize("lags", ["none", "last", "all"])
@pytest.mark.parametrize("zeta", [0.7, -0.0])
def test_steps_match_the_equations_bit_for_bit(method, n_substeps, lags, zeta):
    n = 5
    state, inputs = problem(n, lags, zeta)
    s = qk.PyStuartLandauStepper(n, dt=0.05, method=method, n_substeps=n_substeps, atol=1e-9, rtol=1e-6)
    y, last_dt = state, 0.05
    for _ in range(3):
        out = step(s, y, inputs)
        # n_substeps plays no part in the adaptive step
        y, last_dt, _ = ref.step(y, inputs, method, 0.05, n_substeps, last_dt, 1e-9, 1e-6)
        assert isinstance(out, list) and bits(out) == bits(y)
        assert s.last_dt == (last_dt if method == "rk45" else 0.05)


@pytest.mark.parametrize("n", [255, 256])
@pytest.mark.parametrize("lags", ["none", "all"])
def test_pool_rows_from_256_and_their_partial_sums(n, lags):
    state, inputs = problem(n, lags, seed=n)
    out = step(qk.PyStuartLandauStepper(n, method="rk4"), state, inputs)
    # only the zero-lag rows on the pool keep eight partial sums
    expect, _, _ = ref.step(state, inputs, "rk4", pool=(n >= 256 and lags == "none"))
    assert bits(out) == bits(expect)


def test_pool_results_do_not_depend_on_the_number_of_workers():
    same_on_one_cpu(
        "import numpy as np, qel_kernel as qk\n"
        "rng = np.random.default_rng(1); n = 300\n"
        "y = np.concatenate([rng.uniform(0, 6, n), rng.uniform(0, 1, n)])\n"
        "s = qk.PyStuartLandauStepper(n, method='rk4')\n"
        "out = b''.join(np.array(s.run(y, rng.normal(1, .3, n), np.ones(n), rng.uniform(0, .01, n*n),"
        " rng.uniform(0, .01, n*n), 0.5, 1.0, a, 0.3, 2)).tobytes()"
        " for a in (np.zeros(n*n), rng.uniform(-.3, .3, n*n)))\n")


def test_wrap_and_amplitude_floor_after_a_step():
    # zero right-hand side for the phases; a negative amplitude grows but stays below 0
    state = np.array([TWO_PI, -TWO_PI, -1e-20, 3.0, -0.5, 0.0, 1.0, -1e-3])
    z = np.zeros(16)
    out = qk.PyStuartLandauStepper(4).step(state, np.zeros(4), np.array([0.0, 0.0, 2.0, 0.0]), z, z, 0.0, 9.0, z, 0.0)
    assert bits(out[:4]) == bits([0.0, -0.0, TWO_PI, 3.0])
    assert out[4] == 0.0 and out[7] == 0.0 and out[6] > 1.0 and state[4] == -0.5


@pytest.mark.parametrize("change,message", [
    (lambda y, a: (np.append(y, 0.0), a), "expected state=6, omegas=3, mu=3; got state=7, omegas=3, mu=3"),
    (lambda y, a: (y, a[:1] + (a[1][:2],) + a[2:]), "expected state=6, omegas=3, mu=3; got state=6, omegas=3, mu=2"),
    (lambda y, a: (np.append(y, np.nan), a[:3] + (a[3][:8],) + a[4:]), "expected state=6, omegas=3, mu=3; got "
     "state=7, omegas=3, mu=3"),
    (lambda y, a: (np.where(y > 5, np.nan, y), a[:3] + (a[3][:8],) + a[4:]), "expected knm/knm_r/alpha length 9 "
     "got 9/8/9"),
    (lambda y, a: (y, a[:3] + (np.zeros(9),) + a[4:7] + (math.nan,)), NAN[21:]),
    (lambda y, a: (y, a[:4] + (np.full(9, np.inf),) + a[5:]), NAN[21:]),
    (lambda y, a: (y, a[:5] + (0.0, math.inf) + a[7:]), NAN[21:]),  # psi of a drive that is off
    (lambda y, a: (np.where(y > 5, np.nan, y), a), NAN[21:]),
])
def test_refused_steps_change_nothing(change, message):
    state, inputs = problem(3, "all")
    state[0] = 6.5
    s = qk.PyStuartLandauStepper(3, method="rk45")
    y, args = change(state, inputs)
    before = bits(y)
    with pytest.raises(ValueError) as e:
        step(s, y, args)
    assert str(e.value).endswith(message) and str(e.value).startswith(("invalid dimension: ", "integration"))
    assert bits(y) == before and s.last_dt == 0.01
    assert bits(step(s, state, inputs)) == bits(ref.step(state, inputs, "rk45")[0])


@pytest.mark.parametrize("args,kind,message", [
    ((0, 0.01, "rk5"), ValueError, "unknown method: rk5"),
    ((3, 0.01, "RK4"), ValueError, "unknown method: RK4"),
    ((0, 0.0), ValueError, "invalid dimension: n must be > 0"),
    ((3, 0.0), ValueError, "invalid config: dt must be positive finite, got 0"),
    ((3, 0.01, "rk45", 1, 1e-2, 1e-3), ValueError, "invalid config: for RK45, rtol must be >= atol"),
    ((3, 0.01, "euler", 0), ValueError, "invalid config: n_substeps must be >= 1"),
    ((3, 0.01, "euler", 2**32), OverflowError, None),
    ((2**59,), Panic, "capacity overflow"),
    ((2**58,), MemoryError, None),
])
def test_constructor_checks_in_order(args, kind, message):
    with pytest.raises(kind) as e:
        qk.PyStuartLandauStepper(*args)
    assert message is None or str(e.value) == message


def test_adaptive_step_grows_to_ten_dt_on_a_still_network():
    z = np.zeros(4)
    s = qk.PyStuartLandauStepper(2, dt=0.01, method="rk45", n_substeps=7)
    seen = []
    for _ in range(3):
        assert s.step(np.array([1.0, 2.0, 0.0, 0.0]), np.zeros(2), np.zeros(2), z, z, 0.0, 0.0, z, 0.0)
        seen.append(s.last_dt)
    assert seen == [0.05, 0.1, 0.1]


def test_adaptive_step_after_four_rejections_still_advances():
    state, inputs = problem(3, "all")
    inputs = (inputs[0] * 50, inputs[1] * 400) + inputs[2:]
    s = qk.PyStuartLandauStepper(3, dt=1.0, method="rk45", atol=1e-12, rtol=1e-12)
    expect, last_dt, attempts = ref.step(state, inputs, "rk45", 1.0, atol=1e-12, rtol=1e-12)
    assert len(attempts) == 4 and attempts[-1][1] > 1.0
    assert bits(step(s, state, inputs)) == bits(expect) and s.last_dt == last_dt


def test_run_checks_every_step_and_keeps_last_dt_of_completed_steps():
    state, inputs = problem(3)
    s = qk.PyStuartLandauStepper(3, method="rk45")
    o, mu, k, kr, a, z, p, e = inputs
    one = qk.PyStuartLandauStepper(3, method="rk45")
    y = state
    for _ in range(3):
        y = np.array(step(one, y, inputs))
    assert bits(s.run(state, o, mu, k, kr, z, p, a, e, 3)) == bits(y) and s.last_dt == one.last_dt
    s = qk.PyStuartLandauStepper(3, dt=10.0, method="rk45")
    with pytest.raises(ValueError, match="stuart-landau inputs contain NaN/Inf"):
        s.run(state, np.full(3, 1e308), mu, k, kr, z, p, a, e, 5)  # phases overflow in step 1
    assert s.last_dt == 50.0
    short = np.array([np.nan, 1.0])
    assert bits(s.run(short, o, mu, k, kr, z, p, a, e, 0)) == bits(short)


def test_interface_texts():
    cls = qk.PyStuartLandauStepper
    assert cls.__text_signature__ == '(n, dt=0.01, method="euler", n_substeps=1, atol=1e-6, rtol=1e-3)'
    assert cls.step.__doc__.endswith("Advance state [θ; r] by one step. Returns new state array (2N).")
    assert cls.run.__doc__.endswith("Run n_steps. Returns final state list (2N).")
    s = cls(7, dt=0.02)
    assert (s.n, s.last_dt) == (7, 0.02)
