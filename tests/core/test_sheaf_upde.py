import numpy as np
import pytest

import qel_kernel as qk
from reference import sheaf
from support import TWO_PI, bits, wrap

DIM = "invalid dimension: "
NAN = "integration diverged: sheaf UPDE inputs contain NaN/Inf"


def problem(n, d, seed=0, zeta=0.7):
    rng = np.random.default_rng(seed)
    phases = rng.uniform(-1.0, 7.0, n * d)
    omegas = rng.normal(0.0, 1.0, n * d)
    maps = rng.normal(0.0, 0.5, (n * d) ** 2)
    maps[rng.random(maps.size) < 0.3] = 0.0
    return phases, omegas, maps, zeta, rng.uniform(0.0, TWO_PI, d)


def _bad(field, value, **more):
    args = dict(zip(("phases", "omegas", "maps", "zeta", "psi"), problem(2, 2)))
    args[field] = value
    return dict(args, **more)


@pytest.mark.parametrize(
    "args, text",
    [
        (_bad("psi", np.zeros(3)), DIM + "Phase/omega/psi size mismatch"),
        (_bad("maps", np.zeros(15)), DIM + "Restriction map size mismatch"),
        # Lengths are checked before values.
        (_bad("maps", np.full(15, np.nan), psi=np.zeros(1)), DIM + "Phase/omega/psi size mismatch"),
        (_bad("maps", np.where(np.arange(16) == 5, np.inf, 0.0)), NAN),
        (_bad("zeta", 0.0, psi=np.array([np.nan, 0.0])), NAN),
    ],
)
def test_step_validation_changes_nothing(args, text):
    s = qk.PySheafUPDEStepper(2, 2, dt=0.3, method="rk45", atol=1e-12, rtol=1e-12)
    s.step(*problem(2, 2, seed=5))
    before = s.last_dt
    phases = args["phases"].copy()
    with pytest.raises(ValueError) as info:
        s.step(phases, args["omegas"], args["maps"], args["zeta"], args["psi"])
    assert str(info.value) == text
    assert np.array_equal(phases, args["phases"], equal_nan=True)
    assert s.last_dt == before


def test_block_layout_of_the_maps():
    # Only R_01[0][1]: angle 1 of oscillator 1 drives angle 0 of oscillator 0.
    n, d, dt = 2, 2, 0.1
    maps = np.zeros(16)
    maps[((0 * n + 1) * d + 0) * d + 1] = 2.0
    phases = np.array([0.1, 0.2, 0.3, 1.4])
    out = qk.PySheafUPDEStepper(n, d, dt=dt).step(phases, np.zeros(4), maps, 0.0, np.zeros(2))
    expected = phases.copy()
    expected[0] += dt * 2.0 * np.sin(1.4 - 0.1)
    np.testing.assert_allclose(out, expected, rtol=0, atol=1e-15)


# d = 1 and d = 5 take other row kernels than d = 2; zeta = 0 skips the drive; n = 1 couples one oscillator alone.
@pytest.mark.parametrize("method, substeps, n, d, zeta", [("euler", 2, 3, 2, 0.7), ("rk4", 1, 3, 2, 0.7),
                                                          ("rk45", 1, 3, 2, 0.7), ("euler", 3, 4, 1, 0.0),
                                                          ("rk4", 2, 1, 5, 1.5), ("rk45", 1, 2, 5, 0.3)])
def test_bit_identical_to_plain_python_order(method, substeps, n, d, zeta):
    phases, omegas, maps, _, psi = problem(n, d, seed=4, zeta=zeta)
    s = qk.PySheafUPDEStepper(n, d, dt=0.2, method=method, n_substeps=substeps, atol=1e-9, rtol=1e-7)
    y, last_dt = list(phases), 0.2
    got = phases
    for _ in range(3):
        got = s.step(got, omegas, maps, zeta, psi)
        y, last_dt = sheaf.step(method, y, omegas, maps, zeta, psi, n, d, 0.2, substeps, last_dt,
                                atol=1e-9, rtol=1e-7)
        assert bits(got) == bits(y)
        assert s.last_dt == last_dt


# --- adaptive step -----------------------------------------------------------

@pytest.mark.parametrize("dt, substeps", [(0.37, 1), (0.37, 4), (1e-10, 1)])
def test_rk45_covers_exactly_dt(dt, substeps):
    # Constant frequencies only: any time integrated beyond or short of dt shows.
    # A dt below the smallest step size must end as well.
    n, d = 2, 3
    omegas = np.linspace(-2.0, 3.0, n * d)
    phases = np.linspace(0.1, 1.0, n * d)
    s = qk.PySheafUPDEStepper(n, d, dt=dt, method="rk45", n_substeps=substeps)
    assert (s.n, s.d) == (n, d)
    got = s.step(phases, omegas, np.zeros((n * d) ** 2), 0.0, np.zeros(d))
    np.testing.assert_allclose(got, wrap(phases + omegas * dt), rtol=0, atol=1e-14)
    assert s.last_dt == dt


@pytest.mark.parametrize(
    "nd, dt, tol, args, text",
    [
        ((3, 2), 0.1, 5e-324, (lambda p: (p[0], p[1], p[2] * 50, p[3], p[4]))(problem(3, 2, seed=1)),
         "sheaf RK45 error above tolerance at the smallest step size"),
        ((2, 1), 0.1, None, (np.array([0.0, 1.0]), np.zeros(2), np.array([0.0, 1e308, 1e308, 0.0]), 0.0, np.zeros(1)),
         "sheaf RK45 error estimate is NaN"),
        # A constant frequency whose rounding error keeps the trial at the smallest
        # step, accepted, while dt is too large for 1e-9 to change the remaining time.
        ((1, 1), 1e10, 1e-300, (np.array([0.0]), np.array([3e-275]), np.zeros(1), 0.0, np.zeros(1)),
         "sheaf RK45 step too small to advance time"),
    ],
)
def test_rk45_that_cannot_finish_fails_and_changes_nothing(nd, dt, tol, args, text):
    s = qk.PySheafUPDEStepper(*nd, dt=dt, method="rk45", **({} if tol is None else {"atol": tol, "rtol": tol}))
    phases = args[0].copy()
    with pytest.raises(ValueError) as info:
        s.run(*args, 2)
    assert str(info.value) == "integration diverged: " + text
    assert np.array_equal(args[0], phases)
    assert s.last_dt == dt
