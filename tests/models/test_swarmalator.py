import math
import os

import numpy as np
import pytest

import qel_kernel as qk
from reference import swarmalator as ref
from support import TWO_PI, bits, internal_error as internal, same_on_one_cpu

NOT_CONTIG = "The given array is not contiguous or is misaligned."
DIVERGED = "integration diverged: swarmalator inputs contain NaN/Inf"
P = (1.0, 1.0, 0.5, 1.0)  # a, b, j, k


def swarm(n, dim, seed=0, spread=2.0):
    rng = np.random.default_rng(seed)
    return rng.uniform(-spread, spread, n * dim), rng.uniform(-1.0, 7.0, n), rng.normal(1.0, 0.5, n)


def run(pos, phases, omegas, n=2, dim=2, dt=0.1, n_steps=1, params=P):
    return qk.swarmalator_run_rust(pos, phases, omegas, n, dim, dt, *params, n_steps)


@pytest.mark.parametrize("n, dim, params, steps", [
    (1, 2, P, 3),  # no pairs: only the phase turns
    (2, 2, (1.0, 1.0, 0.5, -1.0), 2),  # both start at one point
    (7, 1, (0.5, 2.0, -1.0, 3.0), 4),
    (9, 2, (1.0, 0.0, 0.0, 1.0), 4),  # attraction only
    (8, 3, (1.0, 1.5, 0.7, -0.4), 3),
    (6, 5, (1.2, 0.3, 1.0, 2.0), 3),  # a dimension without its own row code
])
def test_steps_and_runs_match_the_equations_bit_for_bit(n, dim, params, steps):
    pos, phases, omegas = swarm(n, dim, seed=n * dim)
    pos[:] = 0.25 if n == 2 else pos
    given = bits(pos) + bits(phases)
    s = qk.PySwarmalatorStepper(n, dim, dt=0.05)
    x, th, rx, rth, traj_x, traj_th = pos, phases, list(pos), list(phases), [], []
    for _ in range(steps):
        want_r = ref.order_parameter(rth)
        x, th = s.step(x, th, omegas, *params)
        rx, rth = ref.step(rx, rth, omegas, dim, 0.05, *params)
        assert bits(x) + bits(th) == bits(rx) + bits(rth)
        assert bits(s.order_parameter()) == bits(want_r)  # of the phases the step was given
        traj_x, traj_th = traj_x + rx, traj_th + rth
    out = run(pos, phases, omegas, n, dim, 0.05, steps, params)
    assert [bits(o) for o in out] == [bits(rx), bits(rth), bits(traj_x), bits(traj_th)]
    assert bits(pos) + bits(phases) == given


@pytest.mark.parametrize("phase, omega, want", [(0.0, -TWO_PI, -0.0), (0.0, -1e-20, TWO_PI), (TWO_PI, 0.0, 0.0)])
def test_phases_wrap_after_the_step(phase, omega, want):
    x, th = qk.PySwarmalatorStepper(1, 2, dt=1.0).step(np.array([3.0, -4.0]), np.array([phase]), np.array([omega]), *P)
    assert bits(th) == bits([want]) and list(x) == [3.0, -4.0]


def test_centre_of_mass_stays_and_positions_are_not_wrapped():
    pos, phases, omegas = swarm(40, 2, seed=3, spread=20.0)
    x = run(pos, phases, omegas, 40, 2, 0.1, 30)[0].reshape(40, 2)
    assert np.abs(x.mean(axis=0) - pos.reshape(40, 2).mean(axis=0)).max() < 1e-12 and np.abs(x).max() > TWO_PI


def test_order_parameter_before_any_step_and_from_negative_zero():
    s = qk.PySwarmalatorStepper(4, 2)
    assert bits(s.order_parameter()) == bits((0.0, 0.0))
    s.step(np.zeros(8), np.full(4, -0.0), np.zeros(4), *P)
    assert bits(s.order_parameter()) == bits((1.0, -0.0))  # sums of -0.0 sines from -0.0 stay -0.0


@pytest.mark.parametrize("spoil, message", [
    (lambda a: a.__setitem__(0, a[0][:-1]), "expected pos=6, phases=3, omegas=3; got pos=5, phases=3, omegas=3"),
    (lambda a: a.__setitem__(2, np.array([np.nan])), "expected pos=6, phases=3, omegas=3; got pos=6, phases=3, omegas=1"),
] + [(lambda a, k=k, v=v: a[k].__setitem__(-1, v) if k < 3 else a.__setitem__(k, v), None)  # pos .. k
      for k, v in enumerate([math.nan, -math.inf, math.inf, -math.inf, math.nan, math.inf, math.nan])])
def test_refused_steps_change_nothing(spoil, message):
    s = qk.PySwarmalatorStepper(3, 2)
    good = [np.arange(6.0), np.array([0.1, 2.0, 4.0]), np.ones(3), *P]
    s.step(*good)
    before, bad = s.order_parameter(), [x.copy() if isinstance(x, np.ndarray) else x for x in good]
    spoil(bad)
    with pytest.raises(ValueError) as e:
        s.step(*bad)
    assert str(e.value) == ("invalid dimension: " + message if message else DIVERGED)
    assert bits(s.order_parameter()) == bits(before)
    assert internal(lambda: run(*bad[:3], 3, 2, params=bad[3:])) == "stepper init failed: " + (
        f'InvalidDimension("{message}")' if message else 'IntegrationDiverged("swarmalator inputs contain NaN/Inf")')


def test_contiguity_messages_in_argument_order():
    s, strided, ok = qk.PySwarmalatorStepper(2, 1), np.arange(4.0)[::2], np.ones(2)
    for args, message in [((strided, strided, strided), "pos not contiguous"),
                          ((ok, strided, strided), "phases not contiguous"), ((ok, ok, strided), NOT_CONTIG)]:
        with pytest.raises(ValueError, match=f"^{message}(\n|$)"):
            s.step(*args, *P)
        with pytest.raises(ValueError, match=f"^{NOT_CONTIG}(\n|$)"):
            run(*args, n_steps=0)
    with pytest.raises(ValueError, match="^invalid dimension: "):  # empty arrays pass the contiguity tests
        s.step(np.array([]), np.array([]), np.array([]), *P)


def test_zero_dimensions_fail_after_the_caches_are_written():
    s = qk.PySwarmalatorStepper(2, 0)
    for phases in ([0.5, 0.5], [1.0, 2.0]):  # the object stays usable
        assert internal(lambda: s.step(np.array([]), np.array(phases), np.zeros(2), *P)) == "chunk_size must not be zero"
        assert bits(s.order_parameter()) == bits(ref.order_parameter(phases))
    assert internal(lambda: run(np.array([]), np.ones(2), np.ones(2), 2, 0)) == "chunk_size must not be zero"


@pytest.mark.parametrize("n, dt, message", [(0, -1.0, ("invalid dimension", "InvalidDimension", "n must be > 0")),
                                            (2, 0.0, ("invalid config", "InvalidConfig", "dt must be positive finite, got 0")),
                                            (2, math.nan, ("invalid config", "InvalidConfig", "dt must be positive finite, got NaN"))])
def test_construction_errors(n, dt, message):
    prefix, variant, text = message
    with pytest.raises(ValueError, match=f"^{prefix}: {text}$"):
        qk.PySwarmalatorStepper(n, 1, dt)
    # the run function builds its stepper even for zero steps
    assert internal(lambda: run(np.ones(2), np.ones(2), np.ones(2), n, 1, dt, 0)) == f'stepper init failed: {variant}("{text}")'


@pytest.mark.parametrize("make, exc", [
    (lambda: qk.PySwarmalatorStepper(2**62, 2), None), (lambda: qk.PySwarmalatorStepper(2**60, 1), None),
    (lambda: qk.PySwarmalatorStepper(2**57, 1), MemoryError),
    (lambda: run(np.ones(4), np.ones(2), np.ones(2), 2**32, 2**32, n_steps=0), None),
    (lambda: run(np.ones(4), np.ones(2), np.ones(2), n_steps=2**58), None),
    (lambda: run(np.ones(4), np.ones(2), np.ones(2), n_steps=2**63), None),
    pytest.param(lambda: run(np.ones(4), np.ones(2), np.ones(2), n_steps=2**57), MemoryError,
                 marks=pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                                          reason="the sanitizer aborts on huge requests")),
])
def test_sizes_that_cannot_be_held_are_refused_before_any_step(make, exc):
    assert pytest.raises(exc, make) if exc else internal(make) == "capacity overflow"


def test_zero_steps_return_copies_unchecked():
    pos, phases = np.array([1.0, np.nan, 9.0]), np.array([-7.0])
    out = run(pos, phases, np.ones(5), n_steps=0)
    assert [bits(o) for o in out] == [bits(pos), bits(phases), b"", b""]
    assert not np.shares_memory(out[0], pos) and not np.shares_memory(out[1], phases)


def test_results_do_not_depend_on_the_number_of_workers():
    same_on_one_cpu("""
import numpy as np, qel_kernel as qk
rng = np.random.default_rng(5)
n = 301
out = b"".join(b"".join(a.tobytes() for a in qk.swarmalator_run_rust(rng.uniform(-1, 1, n * d), rng.uniform(0, 6, n),
               rng.normal(size=n), n, d, 0.05, 1.0, 1.0, 0.5, 1.0, 2)) for d in (2, 4))
""")
