import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import coupling as ref

NAN = float("nan")
INF = float("inf")
NOT_CONTIG = "The given array is not contiguous or is misaligned."
METHODS = ["euler", "rk4", "rk45"]


def network(n, seed, alpha_zero=False):
    rng = np.random.default_rng(seed)
    phases = rng.uniform(0, 2 * np.pi, n)
    knm = rng.normal(0.5, 0.4, n * n)
    alpha = np.zeros(n * n) if alpha_zero else rng.normal(0, 0.2, n * n)
    return phases, knm, alpha


def stepper(method, n, plastic=False):
    s = qk.PyUPDEStepper(n, dt=0.02, method=method, n_substeps=2)
    if plastic:
        s.set_plasticity(0.3, 0.1, 0.7)
    return s


def same_bits(a, b):
    return np.asarray(a, dtype=np.float64).view(np.uint64).tolist() == np.asarray(b, np.float64).view(
        np.uint64).tolist()


# ---------------------------------------------------------------- omega schedule

@pytest.mark.parametrize("method", METHODS)
@pytest.mark.parametrize("plastic", [False, True])
@pytest.mark.parametrize("n", [5, 300])
def test_equal_rows_give_run(method, plastic, n):
    phases, knm, alpha = network(n, 1, alpha_zero=(n == 300))
    omegas = np.linspace(-1, 1, n)
    a, b = stepper(method, n, plastic), stepper(method, n, plastic)
    ka, kb = knm.copy(), knm.copy()
    out_a = a.run_omega_schedule(phases, np.tile(omegas, 4), ka, 0.3, 1.1, alpha, 4)
    out_b = b.run(phases, omegas, kb, 0.3, 1.1, alpha, 4)
    assert same_bits(out_a, out_b) and same_bits(ka, kb)
    assert plastic == (not same_bits(ka, knm))
    # The stepper state (last_dt, ...) went the same way too.
    assert same_bits(a.step(out_a, omegas, ka, 0.3, 1.1, alpha), b.step(out_b, omegas, kb, 0.3, 1.1, alpha))


@pytest.mark.parametrize("method", METHODS)
def test_rows_are_the_steps_frequencies(method):
    n, steps = 4, 6
    phases, knm, alpha = network(n, 2)
    sched = np.random.default_rng(3).normal(size=steps * n)
    a, b = stepper(method, n, True), stepper(method, n, True)
    ka, kb = knm.copy(), knm.copy()
    out = a.run_omega_schedule(phases, sched, ka, 0.0, 0.0, alpha, steps)
    p = phases
    for s in range(steps):
        p = b.step(p, sched[s * n:(s + 1) * n].copy(), kb, 0.0, 0.0, alpha)
    assert same_bits(out, p) and same_bits(ka, kb)
    assert not np.shares_memory(out, phases)


def test_omega_zero_steps_and_lengths():
    s = stepper("euler", 3)
    wrong = np.array([7.0, NAN])
    out = s.run_omega_schedule(wrong, np.zeros(0), np.zeros(1), NAN, NAN, np.zeros(0), 0)
    assert out.tolist()[0] == 7.0 and math.isnan(out[1]) and not np.shares_memory(out, wrong)
    with pytest.raises(ValueError) as e:
        s.run_omega_schedule(np.zeros(3), np.zeros(3), np.zeros(9), 0.0, 0.0, np.zeros(9), 0)
    assert str(e.value) == "invalid dimension: expected omega_schedule length 0, got 3"
    with pytest.raises(ValueError) as e:
        s.run_omega_schedule(np.zeros(3), np.zeros(5), np.zeros(9), 0.0, 0.0, np.zeros(9), 2)
    assert str(e.value) == "invalid dimension: expected omega_schedule length 6, got 5"
    # Overflow is reported before the length, never wrapped into a match.
    with pytest.raises(ValueError) as e:
        s.run_omega_schedule(np.zeros(3), np.zeros(3), np.zeros(9), 0.0, 0.0, np.zeros(9), 2**64 // 3 + 1)
    assert str(e.value) == "invalid dimension: omega schedule is too large"
    # The coupling length is the step's own message here.
    with pytest.raises(ValueError) as e:
        s.run_omega_schedule(np.zeros(3), np.zeros(3), np.zeros(4), 0.0, 0.0, np.zeros(9), 1)
    assert str(e.value) == "invalid dimension: expected 9=3*3, got knm=4 alpha=9"
    with pytest.raises(ValueError) as e:
        s.run_omega_schedule(np.zeros(2), np.zeros(3), np.zeros(9), 0.0, 0.0, np.zeros(9), 1)
    assert str(e.value) == "invalid dimension: expected 3, got phases=2 omegas=3"


@pytest.mark.parametrize(
    "bad, msg",
    [
        (("phases", "omega_schedule"), "phases not contiguous"),
        (("omega_schedule", "knm"), NOT_CONTIG),
        (("knm", "alpha"), NOT_CONTIG),
        (("alpha",), NOT_CONTIG),
    ],
)
def test_omega_contiguity_order(bad, msg):
    n = 3
    args = dict(phases=np.zeros(n), omega_schedule=np.zeros(n), knm=np.zeros(n * n), alpha=np.zeros(n * n))
    for name in bad:
        args[name] = np.zeros(2 * len(args[name]))[::2]
    with pytest.raises(ValueError) as e:
        stepper("euler", n).run_omega_schedule(args["phases"], args["omega_schedule"], args["knm"], 0.0, 0.0,
                                               args["alpha"], 1)
    assert str(e.value) == msg


def test_nan_row_fails_at_its_step_keeping_earlier_effects():
    n = 3
    phases, knm, alpha = network(n, 4)
    sched = np.ones(5 * n)
    sched[3 * n + 1] = NAN
    a, b = stepper("rk45", n, True), stepper("rk45", n, True)
    ka, kb = knm.copy(), knm.copy()
    with pytest.raises(ValueError) as e:
        a.run_omega_schedule(phases, sched, ka, 0.0, 0.0, alpha, 5)
    assert str(e.value) == "integration diverged: omegas/knm/alpha/modulator contain NaN/Inf"
    p = phases
    for s in range(3):
        p = b.step(p, np.ones(n), kb, 0.0, 0.0, alpha)
    assert same_bits(ka, kb)
    # last_dt moved on for three steps in both.
    assert same_bits(a.step(p, np.ones(n), ka, 0.0, 0.0, alpha), b.step(p, np.ones(n), kb, 0.0, 0.0, alpha))


@pytest.mark.parametrize("runner", ["omega", "doppler"])
def test_knm_read_only_or_overlapping_is_refused_before_writing(runner):
    n = 3
    phases, knm, alpha = network(n, 5)

    def call(s, ph, k, al, sched):
        if runner == "omega":
            return s.run_omega_schedule(ph, sched, k, 0.0, 0.0, al, 1)
        return s.run_doppler_schedule(ph, sched, k, 0.0, 0.0, al, np.zeros(n), 1.0, 1.0, 1)

    s = stepper("rk45", n, True)
    ro = knm.copy()
    ro.setflags(write=False)
    with pytest.raises(ValueError):
        call(s, phases, ro, alpha, np.ones(n))
    big = np.concatenate([knm, alpha])
    for ph, k, al, sched in [
        (phases, big[:9], big[:9], np.ones(n)),      # knm is alpha
        (phases, big[:9], big[8:17], np.ones(n)),    # one shared element
        (big[:3], big[:9], alpha, np.ones(n)),       # knm under phases
        (phases, big[:9], alpha, big[6:9]),          # knm under the schedule
    ]:
        before = big.copy()
        with pytest.raises(ValueError):
            call(s, ph, k, al, sched)
        assert same_bits(big, before)
    # Nothing ran: the stepper still matches a fresh one.
    k1, k2 = knm.copy(), knm.copy()
    assert same_bits(call(s, phases, k1, alpha, np.ones(n)), call(stepper("rk45", n, True), phases, k2, alpha,
                                                                  np.ones(n)))


# -------------------------------------------------------------- Doppler schedule

def doppler_loop(s, phases, sched, knm, zeta, psi, alpha, vel, strength, eps, steps):
    n = len(phases)
    p = phases
    for st in range(steps):
        d = ref.doppler_term(vel[st * n:(st + 1) * n].tolist(), knm.tolist(), n, strength, eps)
        w = np.array([o + x for o, x in zip(sched[st * n:(st + 1) * n].tolist(), d)])
        p = s.step(p, w, knm, zeta, psi, alpha)
    return p


@pytest.mark.parametrize("method", METHODS)
@pytest.mark.parametrize("plastic", [False, True])
def test_doppler_matches_loop_of_steps(method, plastic):
    n, steps = 5, 7
    phases, knm, alpha = network(n, 6)
    knm[3] = 0.0
    knm[n + 2] = -0.0
    rng = np.random.default_rng(7)
    sched = rng.normal(size=steps * n)
    vel = rng.normal(size=steps * n)
    vel[n:2 * n] = 0.4  # a row of equal velocities
    a, b = stepper(method, n, plastic), stepper(method, n, plastic)
    ka, kb = knm.copy(), knm.copy()
    out = a.run_doppler_schedule(phases, sched, ka, 0.2, 0.5, alpha, vel, -1.3, 0.25, steps)
    expected = doppler_loop(b, phases, sched, kb, 0.2, 0.5, alpha, vel, -1.3, 0.25, steps)
    assert same_bits(out, expected) and same_bits(ka, kb)


def test_doppler_worked_example():
    # K = (0, 2, -3, 0), v = (1, 0), strength 1, eps 1 gives D = (0.5, -1).
    assert ref.doppler_term([1.0, 0.0], [0.0, 2.0, -3.0, 0.0], 2, 1.0, 1.0) == [0.5, -1.0]
    knm = np.array([0.0, 2.0, -3.0, 0.0])
    phases = np.array([0.3, 1.0])
    a = stepper("euler", 2).run_doppler_schedule(phases, np.array([1.0, 2.0]), knm.copy(), 0.0, 0.0, np.zeros(4),
                                                 np.array([1.0, 0.0]), 1.0, 1.0, 1)
    b = stepper("euler", 2).run_omega_schedule(phases, np.array([1.5, 1.0]), knm.copy(), 0.0, 0.0, np.zeros(4), 1)
    assert same_bits(a, b)
    # strength 0 and equal velocities: no shift at all.
    for vel, strength in [([1.0, 0.0], 0.0), ([2.0, 2.0], 1.0)]:
        a = stepper("euler", 2).run_doppler_schedule(phases, np.array([1.0, 2.0]), knm.copy(), 0.0, 0.0,
                                                     np.zeros(4), np.array(vel), strength, 1.0, 1)
        b = stepper("euler", 2).run_omega_schedule(phases, np.array([1.0, 2.0]), knm.copy(), 0.0, 0.0,
                                                   np.zeros(4), 1)
        assert same_bits(a, b)


def doppler(s, phases=None, sched=None, knm=None, alpha=None, vel=None, strength=1.0, eps=1.0, steps=1, n=3):
    return s.run_doppler_schedule(
        np.zeros(n) if phases is None else phases,
        np.zeros(steps * n) if sched is None else sched,
        np.zeros(n * n) if knm is None else knm, 0.0, 0.0,
        np.zeros(n * n) if alpha is None else alpha,
        np.zeros(steps * n) if vel is None else vel, strength, eps, steps)


@pytest.mark.parametrize(
    "kw, msg",
    [
        (dict(eps=0.0, steps=0, sched=np.zeros(0), vel=np.zeros(0)),
         "integration diverged: invalid Doppler strength or epsilon"),
        (dict(eps=-0.0), "integration diverged: invalid Doppler strength or epsilon"),
        (dict(eps=-1.0), "integration diverged: invalid Doppler strength or epsilon"),
        (dict(eps=NAN), "integration diverged: invalid Doppler strength or epsilon"),
        (dict(eps=INF), "integration diverged: invalid Doppler strength or epsilon"),
        (dict(strength=-INF), "integration diverged: invalid Doppler strength or epsilon"),
        (dict(strength=NAN, sched=np.zeros(1)), "integration diverged: invalid Doppler strength or epsilon"),
        (dict(steps=2**64 // 3 + 1, sched=np.zeros(3), vel=np.zeros(3)),
         "invalid dimension: Doppler schedule is too large"),
        (dict(sched=np.zeros(2), knm=np.zeros(2)), "invalid dimension: expected Doppler schedule length 3, got "
                                                    "omega=2 velocity=3"),
        (dict(vel=np.zeros(4)), "invalid dimension: expected Doppler schedule length 3, got omega=3 velocity=4"),
        (dict(steps=0, vel=np.zeros(1)),
         "invalid dimension: expected Doppler schedule length 0, got omega=0 velocity=1"),
        (dict(knm=np.zeros(4), phases=np.zeros(2)), "invalid dimension: malformed Doppler inputs"),
        (dict(vel=np.array([0.0, INF, 0.0]), knm=np.full(4, 0.0)), "invalid dimension: malformed Doppler inputs"),
        (dict(vel=np.array([0.0, INF, 0.0]), phases=np.zeros(2)),
         "integration diverged: Doppler velocities/knm contain NaN/Inf"),
        (dict(knm=np.array([0.0, NAN] + [0.0] * 7), phases=np.zeros(2)),
         "integration diverged: Doppler velocities/knm contain NaN/Inf"),
        (dict(phases=np.zeros(2)), "invalid dimension: expected 3, got phases=2 omegas=3"),
        (dict(alpha=np.zeros(8)), "invalid dimension: expected 9=3*3, got knm=9 alpha=8"),
        (dict(sched=np.array([0.0, INF, 0.0])), "integration diverged: omegas/knm/alpha/modulator contain NaN/Inf"),
    ],
)
def test_doppler_check_order(kw, msg):
    with pytest.raises(ValueError) as e:
        doppler(stepper("euler", 3), **kw)
    assert str(e.value) == msg


def test_doppler_accepts_edges_and_zero_steps():
    s = stepper("euler", 3)
    doppler(s, eps=5e-324)
    out = doppler(s, phases=np.array([9.0]), sched=np.zeros(0), vel=np.zeros(0), knm=np.zeros(1), steps=0)
    assert out.tolist() == [9.0]


@pytest.mark.parametrize(
    "bad, msg",
    [
        (("phases", "omega_schedule"), "phases not contiguous"),
        (("omega_schedule", "velocity_schedule"), NOT_CONTIG),
        # velocity_schedule is tested before knm, although it comes later.
        (("velocity_schedule", "knm!"), NOT_CONTIG),
        (("knm", "alpha"), NOT_CONTIG),
        (("knm!", "alpha"), "array 'knm' is read-only"),
    ],
)
def test_doppler_array_test_order(bad, msg):
    n = 3
    args = dict(phases=np.zeros(n), sched=np.zeros(n), vel=np.zeros(n), knm=np.zeros(n * n), alpha=np.zeros(n * n))
    names = dict(phases="phases", omega_schedule="sched", velocity_schedule="vel", knm="knm", alpha="alpha")
    for b in bad:
        if b.endswith("!"):
            args["knm"].setflags(write=False)
        else:
            args[names[b]] = np.zeros(2 * len(args[names[b]]))[::2]
    with pytest.raises(ValueError) as e:
        doppler(stepper("euler", n), **args)
    assert str(e.value) == msg


def test_doppler_nan_velocity_row_three():
    n = 3
    phases, knm, alpha = network(n, 8)
    vel = np.linspace(-1, 1, 5 * n)
    vel[3 * n + 2] = NAN
    sched = np.ones(5 * n)
    a, b = stepper("rk4", n, True), stepper("rk4", n, True)
    ka, kb = knm.copy(), knm.copy()
    with pytest.raises(ValueError) as e:
        a.run_doppler_schedule(phases, sched, ka, 0.0, 0.0, alpha, vel, 1.0, 0.5, 5)
    assert str(e.value) == "integration diverged: Doppler velocities/knm contain NaN/Inf"
    doppler_loop(b, phases, sched, kb, 0.0, 0.0, alpha, vel, 1.0, 0.5, 3)
    assert same_bits(ka, kb) and not same_bits(ka, knm)


# --------------------------------------------------------- moving-frame schedule

def moving_loop(s, phases, positions, sched, knm, zeta, psi, alpha, vel, k, code, p, length, eps, strength,
                d_eps, steps, dt):
    n = len(phases)
    ph, x = phases.copy(), positions.tolist()
    for st in range(steps):
        k_eff = np.array(ref.axial_modulate(x, knm.tolist(), n, k, code, p, length, eps))
        v = vel[st * n:(st + 1) * n].tolist()
        d = ref.doppler_term(v, k_eff.tolist(), n, strength, d_eps)
        w = np.array([o + y for o, y in zip(sched[st * n:(st + 1) * n].tolist(), d)])
        ph = s.step(ph, w, k_eff, zeta, psi, alpha)
        x = [vi * dt + xi for vi, xi in zip(v, x)]
    return np.concatenate([ph, x])


def moving(s, phases, positions, sched, knm, alpha, vel, k=1.0, code=0, p=1.0, length=1.0, eps=1.0,
           strength=1.0, d_eps=1.0, steps=1, zeta=0.0, psi=0.0):
    return s.run_moving_frame_schedule(phases, positions, sched, knm, zeta, psi, alpha, vel, k, code, p, length,
                                       eps, strength, d_eps, steps)


@pytest.mark.parametrize("method", METHODS)
@pytest.mark.parametrize("code", [0, 1, 2, 3, 7])
def test_moving_frame_matches_reference(method, code):
    n, steps = 5, 6
    phases, knm, alpha = network(n, 10 + code)
    rng = np.random.default_rng(code)
    positions = rng.normal(size=n)
    positions[1] = positions[0]
    sched = rng.normal(size=steps * n)
    vel = rng.normal(size=steps * n)
    params = (0.9, code, 1.7, 0.6, 0.05, 0.8, 0.3, steps)
    out = moving(stepper(method, n), phases, positions, sched, knm, alpha, vel, *params[:7], steps=steps,
                 zeta=0.4, psi=2.0)
    expected = moving_loop(stepper(method, n), phases, positions, sched, knm, 0.4, 2.0, alpha, vel, *params,
                           dt=0.02)
    assert out.shape == (2 * n,)
    assert same_bits(out, expected)


def test_moving_frame_code_fallback_and_plasticity():
    n, steps = 4, 5
    phases, knm, alpha = network(n, 20)
    positions = np.arange(n, dtype=float)
    sched, vel = np.ones(steps * n), np.linspace(-1, 1, steps * n)
    outs = [moving(stepper("euler", n), phases, positions, sched, knm, alpha, vel, code=c, steps=steps)
            for c in (0, 4, 255)]
    assert same_bits(outs[0], outs[1]) and same_bits(outs[0], outs[2])
    k_before = knm.copy()
    plastic = moving(stepper("euler", n, True), phases, positions, sched, knm, alpha, vel, steps=steps)
    assert same_bits(plastic, outs[0]) and same_bits(knm, k_before)
    # Read-only arrays, and one array passed for several arguments, are fine here.
    knm.setflags(write=False)
    moving(stepper("euler", n), phases, positions, sched, knm, alpha, np.ones(steps * n), steps=steps)
    moving(stepper("euler", n), phases, positions, np.zeros(n), alpha, alpha, np.zeros(n))
    with pytest.raises(OverflowError):
        moving(stepper("euler", n), phases, positions, sched, knm, alpha, vel, code=256, steps=steps)


def test_moving_frame_rk45_moves_by_configured_dt_and_zero_steps():
    n = 3
    phases, knm, alpha = network(n, 21)
    positions = np.array([0.0, 1.0, 3.0])
    out = moving(stepper("rk45", n), phases, positions, np.zeros(3 * n), knm, alpha, np.full(3 * n, 2.0), steps=3)
    assert out[n:].tolist() == [((2.0 * 0.02 + x) + 2.0 * 0.02) + 2.0 * 0.02 for x in positions.tolist()]
    wrong = moving(stepper("euler", n), phases, positions, np.zeros(0), knm, alpha, np.zeros(0), steps=0)
    assert same_bits(wrong, np.concatenate([phases, positions]))
    # k = 0: no coupling, the phases advance by the frequencies alone.
    out = moving(stepper("euler", n), np.zeros(n), positions, np.ones(n), knm, np.zeros(n * n), np.ones(n), k=0.0)
    assert out[:n].tolist() == [0.02] * n


def test_moving_frame_positions_driven_to_infinity():
    n = 2
    knm = np.array([0.0, 1.0, 1.0, 0.0])
    vel = np.full(2 * n, 1e308)
    s = qk.PyUPDEStepper(n, dt=1e10)
    out = moving(s, np.zeros(n), np.zeros(n), np.zeros(n), knm, np.zeros(4), vel[:n])
    assert out[n:].tolist() == [INF, INF]
    with pytest.raises(ValueError) as e:
        moving(qk.PyUPDEStepper(n, dt=1e10), np.zeros(n), np.zeros(n), np.zeros(2 * n), knm, np.zeros(4), vel,
               steps=2)
    assert str(e.value) == "integration diverged: spatial modulation inputs contain NaN/Inf"
    # A coinciding pair with a tiny epsilon overflows the effective coupling.
    with pytest.raises(ValueError) as e:
        moving(qk.PyUPDEStepper(n), np.zeros(n), np.zeros(n), np.zeros(n), knm * 1e300, np.zeros(4), np.zeros(n),
               code=3, eps=1e-300)
    assert str(e.value) == "integration diverged: Doppler velocities/knm contain NaN/Inf"


GOOD = dict(phases=np.zeros(3), positions=np.arange(3.0), sched=np.zeros(3), knm=np.ones(9), alpha=np.zeros(9),
            vel=np.zeros(3))


@pytest.mark.parametrize(
    "kw, msg",
    [
        (dict(phases=np.zeros(6)[::2], positions=np.zeros(6)[::2]), "phases not contiguous"),
        (dict(positions=np.zeros(6)[::2], sched=np.zeros(6)[::2]), "positions not contiguous"),
        (dict(sched=np.zeros(6)[::2], phases=np.zeros(2)), NOT_CONTIG),
        (dict(vel=np.zeros(6)[::2], phases=np.zeros(2)), NOT_CONTIG),
        (dict(positions=np.zeros(2), knm=np.ones(4)), "invalid dimension: moving-frame phases/positions shape mismatch"),
        (dict(phases=np.zeros(4)), "invalid dimension: moving-frame phases/positions shape mismatch"),
        (dict(alpha=np.zeros(8), k=-1.0), "invalid dimension: moving-frame knm/alpha shape mismatch"),
        (dict(k=-1.0, steps=2**64 // 3 + 1), "integration diverged: invalid moving-frame controls"),
        (dict(eps=0.0), "integration diverged: invalid moving-frame controls"),
        (dict(p=-0.0, code=3), "integration diverged: invalid moving-frame controls"),
        (dict(length=INF), "integration diverged: invalid moving-frame controls"),
        (dict(d_eps=0.0), "integration diverged: invalid moving-frame controls"),
        (dict(strength=NAN), "integration diverged: invalid moving-frame controls"),
        (dict(steps=2**64 // 3 + 1, sched=np.zeros(1)), "invalid dimension: moving-frame schedule is too large"),
        (dict(sched=np.zeros(2), positions=np.array([0.0, NAN, 0.0])),
         "invalid dimension: expected moving-frame schedule length 3, got omega=2 velocity=3"),
        (dict(steps=0), "invalid dimension: expected moving-frame schedule length 0, got omega=3 velocity=3"),
        (dict(positions=np.array([0.0, NAN, 0.0]), steps=0, sched=np.zeros(0), vel=np.zeros(0)),
         "integration diverged: moving-frame positions/knm contain NaN/Inf"),
        (dict(knm=np.full(9, INF)), "integration diverged: moving-frame positions/knm contain NaN/Inf"),
        (dict(vel=np.array([0.0, NAN, 0.0])), "integration diverged: Doppler velocities/knm contain NaN/Inf"),
        (dict(sched=np.array([0.0, NAN, 0.0])),
         "integration diverged: omegas/knm/alpha/modulator contain NaN/Inf"),
    ],
)
def test_moving_frame_check_order(kw, msg):
    args = {**GOOD, **kw}
    with pytest.raises(ValueError) as e:
        moving(stepper("euler", 3), **args)
    assert str(e.value) == msg


def test_moving_frame_accepts_edge_controls():
    moving(stepper("euler", 3), **GOOD, k=-0.0, p=5e-324, length=5e-324, eps=5e-324, d_eps=5e-324, strength=-3.0)


def test_signatures_and_docs():
    s = qk.PyUPDEStepper
    assert s.run_doppler_schedule.__text_signature__ == (
        "($self, phases, omega_schedule, knm, zeta, psi, alpha, velocity_schedule, doppler_strength, "
        "doppler_epsilon, n_steps)")
    assert s.run_moving_frame_schedule.__doc__.endswith(
        "Run n_steps with omega, velocity, and axial position schedules.")
    assert s.run_omega_schedule.__doc__.endswith("Run n_steps with one omega vector per outer step.")
