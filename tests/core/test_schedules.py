import numpy as np
import pytest

import qel_kernel as qk
from reference import coupling as ref
from support import TWO_PI, bits

NAN = float("nan")
INF = float("inf")
NOT_CONTIG = "The given array is not contiguous or is misaligned."
METHODS = ["euler", "rk4", "rk45"]
DIVERGED = "integration diverged: omegas/knm/alpha/modulator contain NaN/Inf"
TOO_MANY = 2**64 // 3 + 1  # n * n_steps wraps around to 1 for n = 3


def network(n, seed):
    rng = np.random.default_rng(seed)
    return rng.uniform(0, TWO_PI, n), rng.normal(0.5, 0.4, n * n), rng.normal(0, 0.2, n * n)


def stepper(method, n, plastic=False):
    s = qk.PyUPDEStepper(n, dt=0.02, method=method, n_substeps=2)
    if plastic:
        s.set_plasticity(0.3, 0.1, 0.7)
    return s


def raises(message, call, *args, **kwargs):
    if message is None:  # accepted
        return call(*args, **kwargs)
    with pytest.raises(ValueError) as e:
        call(*args, **kwargs)
    assert str(e.value) == message


@pytest.mark.parametrize("method", METHODS)
@pytest.mark.parametrize("plastic", [False, True])
def test_omega_schedule_is_a_loop_of_steps(method, plastic):
    n, steps = 4, 5
    phases, knm, alpha = network(n, 1)
    omegas = np.linspace(-1, 1, n)
    # Equal rows give the bits of run, stepper state (last_dt, ...) included.
    a, b = stepper(method, n, plastic), stepper(method, n, plastic)
    ka, kb = knm.copy(), knm.copy()
    out_a = a.run_omega_schedule(phases, np.tile(omegas, steps), ka, 0.3, 1.1, alpha, steps)
    out_b = b.run(phases, omegas, kb, 0.3, 1.1, alpha, steps)
    assert bits(out_a) == bits(out_b) and bits(ka) == bits(kb) and plastic == (bits(ka) != bits(knm))
    assert bits(a.step(out_a, omegas, ka, 0.3, 1.1, alpha)) == bits(b.step(out_b, omegas, kb, 0.3, 1.1, alpha))
    # Row s holds the frequencies of step s.
    sched = np.random.default_rng(3).normal(size=steps * n)
    out = a.run_omega_schedule(phases, sched, ka, 0.0, 0.0, alpha, steps)
    for s in range(steps):
        phases = b.step(phases, sched[s * n:(s + 1) * n].copy(), kb, 0.0, 0.0, alpha)
    assert bits(out) == bits(phases) and bits(ka) == bits(kb)


def test_omega_schedule_checks():
    s = stepper("euler", 3)
    wrong = np.array([7.0, NAN])
    out = s.run_omega_schedule(wrong, np.zeros(0), np.zeros(1), NAN, NAN, np.zeros(0), 0)
    assert bits(out) == bits(wrong) and not np.shares_memory(out, wrong)  # zero steps: the copy, unchecked

    def run(phases, sched, steps, knm=None):
        return s.run_omega_schedule(phases, sched, np.zeros(9) if knm is None else knm, 0.0, 0.0, np.zeros(9), steps)

    z3 = np.zeros(3)
    raises("phases not contiguous", run, np.zeros(6)[::2], np.zeros(6)[::2], 1)
    raises(NOT_CONTIG, run, z3, np.zeros(6)[::2], 1, np.zeros(18)[::2])
    raises("invalid dimension: expected omega_schedule length 0, got 3", run, z3, z3, 0)
    raises("invalid dimension: expected omega_schedule length 6, got 5", run, z3, np.zeros(5), 2)
    # Overflow is reported before the length, never wrapped into a match.
    raises("invalid dimension: omega schedule is too large", run, z3, z3, TOO_MANY)


# The Doppler runner takes its write borrow of knm late (after velocity_schedule): it must still refuse overlaps.
@pytest.mark.parametrize("clash", ["one shared element", "schedule"])
def test_doppler_refuses_overlapping_knm_before_writing(clash):
    phases, knm, alpha = network(3, 5)
    big = np.concatenate([knm, alpha])
    a = dict(ph=phases, k=big[:9], al=alpha, sched=np.ones(3))
    a.update({"one shared element": dict(al=big[8:17]), "schedule": dict(sched=big[6:9])}[clash])

    def call(s, ph, k, al, sched):
        return s.run_doppler_schedule(ph, sched, k, 0.0, 0.0, al, np.zeros(3), 1.0, 1.0, 1)

    s, before = stepper("rk45", 3, True), big.copy()
    with pytest.raises(ValueError):
        call(s, **a)
    assert bits(big) == bits(before)
    # Nothing ran: the stepper still matches a fresh one.
    k1, k2 = knm.copy(), knm.copy()
    fresh = stepper("rk45", 3, True)
    assert bits(call(s, phases, k1, alpha, np.ones(3))) == bits(call(fresh, phases, k2, alpha, np.ones(3)))


def doppler_loop(s, phases, sched, knm, zeta, psi, alpha, vel, strength, eps, steps):
    n = len(phases)
    for st in range(steps):
        d = ref.doppler_term(vel[st * n:(st + 1) * n].tolist(), knm.tolist(), n, strength, eps)
        phases = s.step(phases, np.add(sched[st * n:(st + 1) * n], d), knm, zeta, psi, alpha)
    return phases


@pytest.mark.parametrize("method, nan_row", [("euler", None), ("rk4", None), ("rk45", None), ("rk4", 3)])
def test_doppler_is_a_loop_of_steps(method, nan_row):
    n, steps = 5, 7
    phases, knm, alpha = network(n, 6)
    knm[3] = 0.0
    knm[n + 2] = -0.0
    rng = np.random.default_rng(7)
    sched, vel = rng.normal(size=steps * n), rng.normal(size=steps * n)
    vel[n:2 * n] = 0.4  # a row of equal velocities
    a, b = stepper(method, n, True), stepper(method, n, True)
    ka, kb = knm.copy(), knm.copy()
    args = (0.2, 0.5, alpha, vel, -1.3, 0.25, steps)
    if nan_row is None:
        out = a.run_doppler_schedule(phases, sched, ka, *args)
        assert bits(out) == bits(doppler_loop(b, phases, sched, kb, *args)) and bits(ka) == bits(kb)
    else:
        # A NaN in a velocity row fails that step and keeps what the steps before it did to knm.
        vel[nan_row * n + 2] = NAN
        raises("integration diverged: Doppler velocities/knm contain NaN/Inf", a.run_doppler_schedule, phases,
               sched, ka, *args)
        doppler_loop(b, phases, sched, kb, *args[:-1], nan_row)
        assert bits(ka) == bits(kb) and bits(ka) != bits(knm)


def test_doppler_worked_example():
    # K = (0, 2, -3, 0), v = (1, 0), strength 1, eps 1 gives D = (0.5, -1).
    assert ref.doppler_term([1.0, 0.0], [0.0, 2.0, -3.0, 0.0], 2, 1.0, 1.0) == [0.5, -1.0]
    knm, phases = np.array([0.0, 2.0, -3.0, 0.0]), np.array([0.3, 1.0])
    # Zero strength shifts nothing.
    for vel, strength, shifted in [([1.0, 0.0], 1.0, [1.5, 1.0]), ([1.0, 0.0], 0.0, [1.0, 2.0])]:
        a = stepper("euler", 2).run_doppler_schedule(phases, np.array([1.0, 2.0]), knm.copy(), 0.0, 0.0,
                                                     np.zeros(4), np.array(vel), strength, 1.0, 1)
        b = stepper("euler", 2).run_omega_schedule(phases, np.array(shifted), knm.copy(), 0.0, 0.0, np.zeros(4), 1)
        assert bits(a) == bits(b)


def doppler(s, phases, sched, knm, alpha, vel, strength=1.0, eps=1.0, steps=1):
    return s.run_doppler_schedule(phases, sched, knm, 0.0, 0.0, alpha, vel, strength, eps, steps)


def read_only(a):
    a.setflags(write=False)
    return a


def strided(n):
    return np.zeros(2 * n)[::2]


@pytest.mark.parametrize(
    "kw, msg",
    [
        (dict(phases=strided(3), sched=strided(3)), "phases not contiguous"),
        (dict(sched=strided(3), vel=strided(3)), NOT_CONTIG),
        # velocity_schedule is tested before knm, although it comes later.
        (dict(vel=strided(3), knm=read_only(np.zeros(9))), NOT_CONTIG),
        (dict(knm=strided(9), alpha=strided(9)), NOT_CONTIG),
        (dict(knm=read_only(np.zeros(9)), alpha=strided(9)), "array 'knm' is read-only"),
        (dict(eps=0.0, steps=0, sched=np.zeros(0), vel=np.zeros(0)),
         "integration diverged: invalid Doppler strength or epsilon"),
        (dict(strength=NAN, sched=np.zeros(1)), "integration diverged: invalid Doppler strength or epsilon"),
        (dict(steps=TOO_MANY, sched=np.zeros(3), vel=np.zeros(3)), "invalid dimension: Doppler schedule is too large"),
        (dict(sched=np.zeros(2), knm=np.zeros(2)),
         "invalid dimension: expected Doppler schedule length 3, got omega=2 velocity=3"),
        (dict(steps=0, sched=np.zeros(0), vel=np.zeros(1)),
         "invalid dimension: expected Doppler schedule length 0, got omega=0 velocity=1"),
        (dict(knm=np.zeros(4), phases=np.zeros(2)), "invalid dimension: malformed Doppler inputs"),
        (dict(vel=np.array([0.0, INF, 0.0]), knm=np.zeros(4)), "invalid dimension: malformed Doppler inputs"),
        (dict(knm=np.array([0.0, NAN] + [0.0] * 7), phases=np.zeros(2)),
         "integration diverged: Doppler velocities/knm contain NaN/Inf"),
        (dict(phases=np.zeros(2)), "invalid dimension: expected 3, got phases=2 omegas=3"),
        (dict(sched=np.array([0.0, INF, 0.0])), DIVERGED),
        (dict(eps=5e-324), None),
    ],
)
def test_doppler_checks_in_order(kw, msg):
    good = dict(phases=np.zeros(3), sched=np.zeros(3), knm=np.zeros(9), alpha=np.zeros(9), vel=np.zeros(3))
    raises(msg, doppler, stepper("euler", 3), **{**good, **kw})


def moving(s, phases, positions, sched, knm, alpha, vel, k=1.0, code=0, p=1.0, length=1.0, eps=1.0,
           strength=1.0, d_eps=1.0, steps=1, zeta=0.0, psi=0.0):
    return s.run_moving_frame_schedule(phases, positions, sched, knm, zeta, psi, alpha, vel, k, code, p, length,
                                       eps, strength, d_eps, steps)


def moving_loop(s, phases, positions, sched, knm, alpha, vel, k, code, p, length, eps, strength, d_eps, steps,
                zeta, psi):
    n, x = len(phases), positions.tolist()
    for st in range(steps):
        k_eff = ref.axial_modulate(x, knm.tolist(), n, k, code, p, length, eps)
        v = vel[st * n:(st + 1) * n].tolist()
        w = np.add(sched[st * n:(st + 1) * n], ref.doppler_term(v, k_eff, n, strength, d_eps))
        phases = s.step(phases, w, np.array(k_eff), zeta, psi, alpha)
        x = [vi * 0.02 + xi for vi, xi in zip(v, x)]  # the configured dt
    return np.concatenate([phases, x])


@pytest.mark.parametrize("method, code", [("euler", 0), ("rk4", 1), ("rk45", 2), ("euler", 3)])
def test_moving_frame_matches_reference(method, code):
    n, steps = 5, 6
    phases, knm, alpha = network(n, 10 + code)
    rng = np.random.default_rng(code)
    positions = rng.normal(size=n)
    positions[1] = positions[0]
    args = (phases, positions, rng.normal(size=steps * n), knm, alpha, rng.normal(size=steps * n))
    kw = dict(k=0.9, code=code, p=1.7, length=0.6, eps=0.05, strength=0.8, d_eps=0.3, steps=steps, zeta=0.4, psi=2.0)
    out = moving(stepper(method, n), *args, **kw)
    assert out.shape == (2 * n,) and bits(out) == bits(moving_loop(stepper(method, n), *args, **kw))


def test_moving_frame_ignores_plasticity_and_never_writes():
    n, steps = 4, 5
    phases, knm, alpha = network(n, 20)
    positions = np.arange(n, dtype=float)
    sched, vel = np.ones(steps * n), np.linspace(-1, 1, steps * n)
    plain = moving(stepper("euler", n), phases, positions, sched, knm, alpha, vel, steps=steps)
    k_before = knm.copy()
    plastic = moving(stepper("euler", n, True), phases, positions, sched, knm, alpha, vel, steps=steps)
    assert bits(plastic) == bits(plain) and bits(knm) == bits(k_before)
    # Read-only arrays, and one array passed for several arguments, are fine here.
    knm.setflags(write=False)
    moving(stepper("euler", n), phases, positions, sched, knm, alpha, np.ones(steps * n), steps=steps)
    moving(stepper("euler", n), phases, positions, np.zeros(n), alpha, alpha, np.zeros(n))


def test_moving_frame_rk45_moves_by_configured_dt_and_zero_steps():
    n = 3
    phases, knm, alpha = network(n, 21)
    positions = np.array([0.0, 1.0, 3.0])
    out = moving(stepper("rk45", n), phases, positions, np.zeros(3 * n), knm, alpha, np.full(3 * n, 2.0), steps=3)
    assert out[n:].tolist() == [((2.0 * 0.02 + x) + 2.0 * 0.02) + 2.0 * 0.02 for x in positions.tolist()]
    wrong = moving(stepper("euler", n), phases, positions, np.zeros(0), knm, alpha, np.zeros(0), steps=0)
    assert bits(wrong) == bits(np.concatenate([phases, positions]))


def test_moving_frame_positions_driven_to_infinity():
    n = 2
    knm = np.array([0.0, 1.0, 1.0, 0.0])
    vel = np.full(2 * n, 1e308)
    out = moving(qk.PyUPDEStepper(n, dt=1e10), np.zeros(n), np.zeros(n), np.zeros(n), knm, np.zeros(4), vel[:n])
    assert out[n:].tolist() == [INF, INF]
    raises("integration diverged: spatial modulation inputs contain NaN/Inf", moving, qk.PyUPDEStepper(n, dt=1e10),
           np.zeros(n), np.zeros(n), np.zeros(2 * n), knm, np.zeros(4), vel, steps=2)
    # A coinciding pair with a tiny epsilon overflows the effective coupling.
    raises("integration diverged: Doppler velocities/knm contain NaN/Inf", moving, qk.PyUPDEStepper(n),
           np.zeros(n), np.zeros(n), np.zeros(n), knm * 1e300, np.zeros(4), np.zeros(n), code=3, eps=1e-300)


GOOD = dict(phases=np.zeros(3), positions=np.arange(3.0), sched=np.zeros(3), knm=np.ones(9), alpha=np.zeros(9),
            vel=np.zeros(3))
CONTROLS = "integration diverged: invalid moving-frame controls"


@pytest.mark.parametrize(
    "kw, msg",
    [
        (dict(phases=strided(3), positions=strided(3)), "phases not contiguous"),
        (dict(positions=strided(3), sched=strided(3)), "positions not contiguous"),
        (dict(sched=strided(3), phases=np.zeros(2)), NOT_CONTIG),
        (dict(positions=np.zeros(2), knm=np.ones(4)),
         "invalid dimension: moving-frame phases/positions shape mismatch"),
        (dict(alpha=np.zeros(8), k=-1.0), "invalid dimension: moving-frame knm/alpha shape mismatch"),
        (dict(k=-1.0, steps=TOO_MANY), CONTROLS),
        (dict(eps=0.0), CONTROLS),
        (dict(p=-0.0, code=3), CONTROLS),
        (dict(length=INF), CONTROLS),
        (dict(d_eps=0.0), CONTROLS),
        (dict(strength=NAN), CONTROLS),
        (dict(steps=TOO_MANY, sched=np.zeros(1)), "invalid dimension: moving-frame schedule is too large"),
        (dict(sched=np.zeros(2), positions=np.array([0.0, NAN, 0.0])),
         "invalid dimension: expected moving-frame schedule length 3, got omega=2 velocity=3"),
        (dict(steps=0), "invalid dimension: expected moving-frame schedule length 0, got omega=3 velocity=3"),
        (dict(positions=np.array([0.0, NAN, 0.0]), steps=0, sched=np.zeros(0), vel=np.zeros(0)),
         "integration diverged: moving-frame positions/knm contain NaN/Inf"),
        (dict(vel=np.array([0.0, NAN, 0.0])), "integration diverged: Doppler velocities/knm contain NaN/Inf"),
        (dict(sched=np.array([0.0, NAN, 0.0])), DIVERGED),
        (dict(k=-0.0, p=5e-324, length=5e-324, eps=5e-324, d_eps=5e-324, strength=-3.0), None),
    ],
)
def test_moving_frame_checks_in_order(kw, msg):
    raises(msg, moving, stepper("euler", 3), **{**GOOD, **kw})
