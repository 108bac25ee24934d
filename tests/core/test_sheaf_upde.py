import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import qel_kernel as qk
from reference import sheaf

TWO_PI = 6.283185307179586


def problem(n, d, seed=0, zeta=0.7):
    rng = np.random.default_rng(seed)
    phases = rng.uniform(-1.0, 7.0, n * d)
    omegas = rng.normal(0.0, 1.0, n * d)
    maps = rng.normal(0.0, 0.5, (n * d) ** 2)
    maps[rng.random(maps.size) < 0.3] = 0.0
    psi = rng.uniform(0.0, TWO_PI, d)
    return phases, omegas, maps, zeta, psi


# --- construction ------------------------------------------------------------

@pytest.mark.parametrize(
    "args, kwargs, exc, text",
    [
        ((0, 1), {"method": "RK4"}, ValueError, "unknown method: RK4"),
        ((0, 2), {}, ValueError, "invalid dimension: n and d must both be > 0"),
        ((2, 0), {}, ValueError, "invalid dimension: n and d must both be > 0"),
        ((2, 2), {"dt": 0.0}, ValueError, "invalid config: dt must be positive finite, got 0"),
        ((-1, 2), {}, OverflowError, None),
        ((2, 2.0), {}, TypeError, None),
    ],
)
def test_constructor_refusals(args, kwargs, exc, text):
    with pytest.raises(exc) as info:
        qk.PySheafUPDEStepper(*args, **kwargs)
    if text is not None:
        assert str(info.value) == text


@pytest.mark.parametrize("n, d", [(2**40, 2**40), (2**33, 1), (1, 2**32)])
def test_constructor_refuses_sizes_that_overflow(n, d):
    with pytest.raises(ValueError, match="^invalid dimension: "):
        qk.PySheafUPDEStepper(n, d)


def test_constructor_reports_unallocatable_scratch_as_memory_error():
    # (n*d)^2 fits 64 bits, but eleven vectors of 32 GiB each do not fit memory.
    with pytest.raises(MemoryError):
        qk.PySheafUPDEStepper(2**32 - 1, 1)


# --- step validation ---------------------------------------------------------

def _bad(field, value):
    args = dict(zip(("phases", "omegas", "maps", "zeta", "psi"), problem(2, 2)))
    args[field] = value
    return args


@pytest.mark.parametrize(
    "args, text",
    [
        (_bad("psi", np.zeros(3)), "invalid dimension: Phase/omega/psi size mismatch"),
        (_bad("phases", np.zeros(3)), "invalid dimension: Phase/omega/psi size mismatch"),
        (_bad("omegas", np.zeros(5)), "invalid dimension: Phase/omega/psi size mismatch"),
        (_bad("maps", np.zeros(15)), "invalid dimension: Restriction map size mismatch"),
        # Lengths are checked before values.
        (dict(_bad("maps", np.full(15, np.nan)), psi=np.zeros(1)), "invalid dimension: Phase/omega/psi size mismatch"),
        (_bad("maps", np.where(np.arange(16) == 5, np.inf, 0.0)), "integration diverged: sheaf UPDE inputs contain NaN/Inf"),
        (_bad("psi", np.array([0.0, -np.inf])), "integration diverged: sheaf UPDE inputs contain NaN/Inf"),
        (_bad("zeta", np.nan), "integration diverged: sheaf UPDE inputs contain NaN/Inf"),
        (dict(_bad("zeta", 0.0), psi=np.array([np.nan, 0.0])), "integration diverged: sheaf UPDE inputs contain NaN/Inf"),
    ],
)
def test_step_validation(args, text):
    s = qk.PySheafUPDEStepper(2, 2, method="rk45")
    phases = args["phases"].copy()
    with pytest.raises(ValueError) as info:
        s.step(phases, args["omegas"], args["maps"], args["zeta"], args["psi"])
    assert str(info.value) == text
    assert np.array_equal(phases, args["phases"], equal_nan=True)
    assert s.last_dt == 0.01


def test_contiguity_messages():
    s = qk.PySheafUPDEStepper(2, 2)
    phases, omegas, maps, zeta, psi = problem(2, 2)
    strided = np.zeros(8)[::2]
    with pytest.raises(ValueError, match="^phases not contiguous$"):
        s.step(strided, omegas, maps, zeta, psi)
    with pytest.raises(ValueError, match="^The given array is not contiguous or is misaligned.$"):
        s.step(phases, strided, maps, zeta, psi)
    with pytest.raises(TypeError):
        s.step(phases, omegas, list(maps), zeta, psi)


def test_run_zero_steps_returns_phases_unchecked():
    s = qk.PySheafUPDEStepper(2, 2)
    phases = np.array([9.0, -3.0, np.nan])
    out = s.run(phases, np.zeros(1), np.zeros(1), 0.0, np.zeros(1), 0)
    assert np.array_equal(out, phases, equal_nan=True) and out is not phases


# --- model and layout --------------------------------------------------------

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
    # The same weights read as one row-major (n*d)^2 matrix give other dynamics.
    big = maps.reshape(4, 4)
    relaid = sheaf.from_block_matrix(big, n, d)
    out2 = qk.PySheafUPDEStepper(n, d, dt=dt).step(phases, np.zeros(4), relaid, 0.0, np.zeros(2))
    assert not np.allclose(out, out2)


@pytest.mark.parametrize("method", ["euler", "rk4"])
@pytest.mark.parametrize("n, d, substeps, zeta", [(5, 3, 1, 0.7), (4, 2, 3, 0.0), (1, 5, 2, 1.5), (7, 1, 1, 0.3), (3, 4, 1, 0.2)])
def test_fixed_step_methods_match_einsum_reference(method, n, d, substeps, zeta):
    phases, omegas, maps, _, psi = problem(n, d, seed=n * 10 + d, zeta=zeta)
    s = qk.PySheafUPDEStepper(n, d, dt=0.03, method=method, n_substeps=substeps)
    got = s.run(phases, omegas, maps, zeta, psi, 3)
    ref = phases
    for _ in range(3):
        ref = getattr(sheaf, method)(ref, omegas, maps, zeta, psi, n, d, 0.03, substeps)
    np.testing.assert_allclose(got, ref, rtol=0, atol=1e-12)
    assert s.last_dt == 0.03


@pytest.mark.parametrize("method, substeps", [("euler", 2), ("rk4", 1), ("rk45", 1)])
def test_bit_identical_to_plain_python_order(method, substeps):
    n, d = 3, 2
    phases, omegas, maps, zeta, psi = problem(n, d, seed=4)
    s = qk.PySheafUPDEStepper(n, d, dt=0.2, method=method, n_substeps=substeps, atol=1e-9, rtol=1e-7)
    y, last_dt = list(phases), 0.2
    got = phases
    for _ in range(3):
        got = s.step(got, omegas, maps, zeta, psi)
        y, last_dt = sheaf.exact_step(method, y, omegas, maps, zeta, psi, n, d, 0.2, substeps, last_dt,
                                      atol=1e-9, rtol=1e-7)
        assert got.tolist() == y
        assert s.last_dt == last_dt


def test_one_angle_is_the_dense_model_without_lags():
    n = 6
    rng = np.random.default_rng(3)
    phases, omegas = rng.uniform(0, TWO_PI, n), rng.normal(size=n)
    knm = rng.uniform(0, 1, n * n)
    got = qk.PySheafUPDEStepper(n, 1, dt=0.01, method="rk4").step(phases, omegas, knm, 0.4, np.array([1.0]))
    theta = phases.copy()

    def f(t):
        return omegas + (knm.reshape(n, n) * np.sin(t[None, :] - t[:, None])).sum(axis=1) + 0.4 * np.sin(1.0 - t)

    k1 = f(theta); k2 = f(theta + 0.005 * k1); k3 = f(theta + 0.005 * k2); k4 = f(theta + 0.01 * k3)
    np.testing.assert_allclose(got, sheaf.wrap(theta + 0.01 / 6 * (k1 + 2 * k2 + 2 * k3 + k4)), atol=1e-12)


# --- adaptive step -----------------------------------------------------------

@pytest.mark.parametrize("substeps", [1, 4])
def test_rk45_covers_exactly_dt(substeps):
    # Constant frequencies only: any time integrated beyond or short of dt shows.
    n, d, dt = 2, 3, 0.37
    assert (qk.PySheafUPDEStepper(n, d).n, qk.PySheafUPDEStepper(n, d).d) == (n, d)
    omegas = np.linspace(-2.0, 3.0, n * d)
    phases = np.linspace(0.1, 1.0, n * d)
    s = qk.PySheafUPDEStepper(n, d, dt=dt, method="rk45", n_substeps=substeps)
    got = s.step(phases, omegas, np.zeros((n * d) ** 2), 0.0, np.zeros(d))
    np.testing.assert_allclose(got, sheaf.wrap(phases + omegas * dt), rtol=0, atol=1e-14)
    assert s.last_dt == dt


def test_rk45_last_trial_is_cut_to_the_remaining_time():
    n, d = 3, 2
    phases, omegas, maps, zeta, psi = problem(n, d, seed=9)
    maps *= 8.0
    s = qk.PySheafUPDEStepper(n, d, dt=0.5, method="rk45", atol=1e-10, rtol=1e-8)
    got = s.step(phases, omegas, maps, zeta, psi)
    y, last_dt = sheaf.exact_step("rk45", phases, omegas, maps, zeta, psi, n, d, 0.5, last_dt=0.5,
                                  atol=1e-10, rtol=1e-8)
    assert got.tolist() == y and s.last_dt == last_dt < 0.5
    ref = sheaf.rk4(phases, omegas, maps, zeta, psi, n, d, 0.5, 2000)
    np.testing.assert_allclose(got, ref, atol=1e-6)


def test_rk45_with_dt_below_the_smallest_step_ends():
    s = qk.PySheafUPDEStepper(1, 2, dt=1e-10, method="rk45")
    phases = np.array([1.0, 2.0])
    got = s.step(phases, np.array([3.0, -4.0]), np.zeros(4), 0.0, np.zeros(2))
    np.testing.assert_allclose(got, phases + np.array([3.0, -4.0]) * 1e-10, rtol=0, atol=1e-15)
    assert s.last_dt == 1e-10


def _assert_failed_untouched(s, args, text):
    phases = args[0].copy()
    with pytest.raises(ValueError) as info:
        s.run(*args, 2)
    assert str(info.value) == "integration diverged: " + text
    assert np.array_equal(args[0], phases)


def test_rk45_rejected_at_the_smallest_step_fails():
    phases, omegas, maps, zeta, psi = problem(3, 2, seed=1)
    s = qk.PySheafUPDEStepper(3, 2, dt=0.1, method="rk45", atol=5e-324, rtol=5e-324)
    _assert_failed_untouched(s, (phases, omegas, maps * 50, zeta, psi),
                             "sheaf RK45 error above tolerance at the smallest step size")
    assert s.last_dt == 0.1


def test_rk45_nan_error_fails():
    maps = np.array([0.0, 1e308, 1e308, 0.0])
    s = qk.PySheafUPDEStepper(2, 1, dt=0.1, method="rk45")
    _assert_failed_untouched(s, (np.array([0.0, 1.0]), np.zeros(2), maps, 0.0, np.zeros(1)),
                             "sheaf RK45 error estimate is NaN")
    assert s.last_dt == 0.1


def test_rk45_that_cannot_advance_time_fails():
    # A constant frequency whose rounding error keeps the trial at the smallest
    # step, accepted, while dt is too large for 1e-9 to change the remaining time.
    w = 3e-275
    s = qk.PySheafUPDEStepper(1, 1, dt=1e10, method="rk45", atol=1e-300, rtol=1e-300)
    _assert_failed_untouched(s, (np.array([0.0]), np.array([w]), np.zeros(1), 0.0, np.zeros(1)),
                             "sheaf RK45 step too small to advance time")
    assert s.last_dt == 1e10


def test_failed_run_keeps_earlier_steps_last_dt():
    phases, omegas, maps, zeta, psi = problem(2, 2, seed=5)
    s = qk.PySheafUPDEStepper(2, 2, dt=0.3, method="rk45", atol=1e-12, rtol=1e-12)
    s.step(phases, omegas, maps, zeta, psi)
    before = s.last_dt
    with pytest.raises(ValueError):
        s.step(phases, omegas, maps, zeta, np.zeros(1))
    assert s.last_dt == before


# --- threads -----------------------------------------------------------------

def test_results_do_not_depend_on_the_number_of_workers():
    script = textwrap.dedent(
        """
        import os, sys, numpy as np
        if sys.argv[1] == "1":
            os.sched_setaffinity(0, {sorted(os.sched_getaffinity(0))[0]})
        import qel_kernel as qk
        rng = np.random.default_rng(11)
        n, d = 67, 3
        args = (rng.uniform(0, 6, n * d), rng.normal(size=n * d), rng.normal(size=(n * d) ** 2), 0.5,
                rng.uniform(0, 6, d))
        out = [qk.PySheafUPDEStepper(n, d, dt=0.05, method=m).run(*args, 2) for m in ("euler", "rk4", "rk45")]
        sys.stdout.write(np.concatenate(out).tobytes().hex())
        """
    )
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    outs = [subprocess.run([sys.executable, "-c", script, k], env=env, capture_output=True, text=True, check=True).stdout
            for k in ("1", "all")]
    assert outs[0] == outs[1] and len(outs[0]) > 0
