import numpy as np
import pytest

import qel_kernel as qk
from reference import inertial as ref
from support import bits, same_on_one_cpu

NOT_CONTIGUOUS = "The given array is not contiguous or is misaligned."
Panic = BaseException  # the module's internal error derives from BaseException only


def problem(n, seed=0):
    rng = np.random.default_rng(seed)
    return [rng.uniform(-1.0, 7.0, n), rng.normal(0.0, 2.0, n), rng.normal(0.0, 1.0, n),
            rng.uniform(-1.0, 3.0, n * n), rng.uniform(0.5, 2.0, n), rng.uniform(0.0, 0.5, n)]


def reference_steps(args, steps, dt):
    theta, w, power, knm, inertia, damping = args
    rows = []
    for _ in range(steps):
        theta, w = ref.step(theta, w, power, knm, inertia, damping, dt)
        rows.append((theta, w))
    return rows


@pytest.mark.parametrize("n", [1, 3, 8, 13, 70, 131])
def test_three_entry_points_match_the_equations_bit_for_bit(n):
    args = problem(n, seed=n)
    rows = reference_steps(args, 3, 0.05)
    theta, w = qk.PyInertialStepper(n, dt=0.05).step(*args)
    assert bits(theta) == bits(rows[0][0]) and bits(w) == bits(rows[0][1])
    assert bits(np.concatenate(qk.inertial_step_rust(*args, n, 0.05))) == bits(np.concatenate(rows[0]))
    theta, w, traj_theta, traj_w = qk.inertial_run_rust(*args, n, 0.05, 3)
    assert bits(traj_theta) == bits([r[0] for r in rows]) and bits(traj_w) == bits([r[1] for r in rows])
    assert bits(theta) == bits(rows[-1][0]) and bits(w) == bits(rows[-1][1])


def test_results_do_not_depend_on_the_number_of_workers():
    same_on_one_cpu(
        "import numpy as np, qel_kernel as qk\n"
        "rng = np.random.default_rng(3); n = 333\n"
        "a = [rng.uniform(0, 6, n), rng.normal(0, 1, n), rng.normal(0, 1, n), rng.uniform(-1, 1, n*n),"
        " np.ones(n), np.full(n, 0.1)]\n"
        "out = b''.join(x.tobytes() for x in qk.inertial_run_rust(*a, n, 0.01, 3))\n")


def test_zero_inertia_gives_nan_and_success_then_the_next_step_is_refused():
    args = problem(3)
    args[4][1] = 0.0
    theta, w = qk.PyInertialStepper(3).step(*args)
    assert np.isnan(theta).all() and np.isnan(w).all()
    with pytest.raises(Panic, match=r'^stepper init failed: IntegrationDiverged\("inertial inputs contain NaN/Inf"\)$'):
        qk.inertial_run_rust(*args, 3, 0.01, 2)


LENGTHS = "expected theta/omega_dot/power/inertia/damping length 3, got "


@pytest.mark.parametrize("change,variant,message", [
    (lambda a: a.__setitem__(0, np.append(a[0], np.nan)), "InvalidDimension", LENGTHS + "4/3/3/3/3"),
    (lambda a: a.__setitem__(5, a[5][:2]), "InvalidDimension", LENGTHS + "3/3/3/3/2"),
    (lambda a: (a[0].__setitem__(0, np.nan), a.__setitem__(3, a[3][:8])), "InvalidDimension",
     "expected knm length 9 got 8"),
    (lambda a: a[5].__setitem__(2, np.nan), "IntegrationDiverged", "inertial inputs contain NaN/Inf"),
    (lambda a: a[3].__setitem__(8, -np.inf), "IntegrationDiverged", "inertial inputs contain NaN/Inf"),
])
def test_refusals_as_value_error_in_the_class_and_internal_error_in_the_functions(change, variant, message):
    args = problem(3)
    change(args)
    before = [bits(a) for a in args]
    prefix = "invalid dimension: " if variant == "InvalidDimension" else "integration diverged: "
    with pytest.raises(ValueError) as e:
        qk.PyInertialStepper(3).step(*args)
    assert str(e.value) == prefix + message
    for call in (lambda: qk.inertial_step_rust(*args, 3, 0.01), lambda: qk.inertial_run_rust(*args, 3, 0.01, 4)):
        with pytest.raises(Panic) as e:
            call()
        assert not isinstance(e.value, Exception) and str(e.value) == f'stepper init failed: {variant}("{message}")'
    assert [bits(a) for a in args] == before


@pytest.mark.parametrize("n,dt,message", [
    (0, 0.01, 'InvalidDimension("n must be > 0")'),
    (4, 0.0, 'InvalidConfig("dt must be positive finite, got 0")'),
    (4, float("nan"), 'InvalidConfig("dt must be positive finite, got NaN")'),
])
def test_construction_failures(n, dt, message):
    with pytest.raises(ValueError, match=r"^invalid (dimension|config): " + message.split('"')[1] + "$"):
        qk.PyInertialStepper(n, dt)
    args = problem(4)
    for steps in (0, 2):
        with pytest.raises(Panic) as e:
            qk.inertial_run_rust(*args, n, dt, steps)
        assert str(e.value) == "stepper init failed: " + message


@pytest.mark.parametrize("call", [
    lambda: qk.PyInertialStepper(2**60),
    lambda: qk.inertial_step_rust(*problem(1), 2**60, 0.01),
    lambda: qk.inertial_run_rust(*problem(16), 16, 0.01, 2**56),
    lambda: qk.inertial_run_rust(*problem(16), 16, 0.01, 2**60 + 1),  # 16 (2^60 + 1) wraps to 16 in 64 bits
])
def test_capacity_overflow_before_any_step(call):
    with pytest.raises(Panic, match="^capacity overflow$"):
        call()


@pytest.mark.parametrize("position,class_text", [(0, "theta not contiguous"), (1, "omega_dot not contiguous"),
                                                 (3, NOT_CONTIGUOUS), (5, NOT_CONTIGUOUS)])
def test_contiguity_texts(position, class_text):
    args = problem(2)
    args[position] = np.repeat(args[position], 2)[::2]
    with pytest.raises(ValueError, match=f"^{class_text}(\n|$)"):
        qk.PyInertialStepper(2).step(*args)
    with pytest.raises(ValueError, match=f"^{NOT_CONTIGUOUS}(\n|$)"):
        qk.inertial_step_rust(*args, 0, 0.01)  # reported before the stepper is built
    args[position] = np.zeros(2)[::2][:0]
    with pytest.raises(ValueError, match="^invalid dimension: expected "):
        qk.PyInertialStepper(2).step(*args)


def test_zero_steps_return_unchecked_copies_and_empty_trajectories():
    args = problem(2)
    theta = np.array([np.nan, 9.0, -1.0])
    out = qk.inertial_run_rust(theta, args[1], *args[2:], 2, 0.01, 0)
    assert bits(out[0]) == bits(theta) and bits(out[1]) == bits(args[1])
    assert out[2].shape == out[3].shape == (0,) and out[2].dtype == np.float64
    assert out[0] is not theta
