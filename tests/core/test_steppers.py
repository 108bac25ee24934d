"""Rules the three stepper classes share: construction, layout and borrow refusals, runs, and the worker pool."""
import math
import os

import numpy as np
import pytest

import qel_kernel as qk
from support import bits, run_child, same_on_one_cpu

U = np.uintp
NOT_CONTIG = "The given array is not contiguous or is misaligned."


def dense_args():
    return [np.array([0.1, 2.0, 4.0]), np.array([1.0, 0.5, -0.5]), np.full(9, 0.5), 0.3, 0.4, np.full(9, 0.1)]


def sparse_args():
    return [np.array([0.1, 2.0, 4.0]), np.array([1.0, 0.5, -0.5]), np.array([0, 2, 2, 3], dtype=U),
            np.array([1, 2, 0], dtype=U), np.array([0.4, 0.7, 0.9]), 0.3, 0.4, np.array([0.1, 0.0, 0.2])]


def sheaf_args():
    return [np.array([0.1, 2.0, 4.0]), np.array([1.0, 0.5, -0.5]), np.linspace(-1.0, 1.0, 9), 0.3, np.array([0.4])]


# Per stepper: a constructor taking the settings, valid step arguments, and which argument is written.
STEPPERS = {
    "dense": (lambda **c: qk.PyUPDEStepper(3, **c), dense_args, 2),
    "sparse": (lambda **c: qk.PySparseUPDEStepper(3, **c), sparse_args, 4),
    "sheaf": (lambda **c: qk.PySheafUPDEStepper(3, 1, **c), sheaf_args, None),
}


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"dt": -0.0}, "invalid config: dt must be positive finite, got -0"),
        ({"dt": math.nan}, "invalid config: dt must be positive finite, got NaN"),
        ({"dt": -1e-7, "n_substeps": 0}, "invalid config: dt must be positive finite, got -0.0000001"),
        ({"n_substeps": 0}, "invalid config: n_substeps must be >= 1"),
        ({"atol": math.inf}, "invalid config: atol must be positive finite, got inf"),
        ({"rtol": -2.5}, "invalid config: rtol must be positive finite, got -2.5"),
        ({"method": "rk45", "atol": 1e-2, "rtol": 1e-3}, "invalid config: for RK45, rtol must be >= atol"),
        ({"method": "rk45", "atol": 1e-3, "rtol": 1e-3}, None),
        ({"atol": 1e-2, "rtol": 1e-3}, None),
        ({"dt": 5e-324}, None),
    ],
)
def test_configuration_checks_in_order(kwargs, message):
    if message is None:
        qk.PyUPDEStepper(3, **kwargs)
        return
    with pytest.raises(ValueError) as e:
        qk.PyUPDEStepper(3, **kwargs)
    assert str(e.value) == message


@pytest.mark.parametrize(
    "make, exc, message",
    [
        # The method is tested before the sizes, case-sensitively.
        (lambda: qk.PyUPDEStepper(0, method="RK4"), ValueError, "unknown method: RK4"),
        (lambda: qk.PySparseUPDEStepper(0, method="Euler"), ValueError, "unknown method: Euler"),
        (lambda: qk.PySheafUPDEStepper(0, 1, method="rk5"), ValueError, "unknown method: rk5"),
        (lambda: qk.PySparseUPDEStepper(0, dt=-1.0), ValueError, "invalid dimension: n must be > 0"),
        (lambda: qk.PySheafUPDEStepper(2, 0, dt=-1.0), ValueError, "invalid dimension: n and d must both be > 0"),
        (lambda: qk.PySparseUPDEStepper(3, rtol=0.0), ValueError, "invalid config: rtol must be positive finite, got 0"),
        (lambda: qk.PySheafUPDEStepper(3, 1, n_substeps=0), ValueError, "invalid config: n_substeps must be >= 1"),
        (lambda: qk.PySheafUPDEStepper(2**40, 2**40), ValueError, "invalid dimension: n*d overflows: n=1099511627776 d=1099511627776"),
        (lambda: qk.PySheafUPDEStepper(1, 2**32), ValueError, "invalid dimension: (n*d)^2 overflows: n*d=4294967296"),
        # These steppers leave large sizes to the allocator, even where the extended steppers refuse them.
        (lambda: qk.PyUPDEStepper(2**60), MemoryError, ""),
        (lambda: qk.PySparseUPDEStepper(2**60), MemoryError, ""),
        (lambda: qk.PyUPDEStepper(2**62), MemoryError, ""),
        (lambda: qk.PySparseUPDEStepper(2**61), MemoryError, ""),
        (lambda: qk.PySheafUPDEStepper(2**32 - 1, 1), MemoryError, ""),
    ],
)
def test_construction_refusals(make, exc, message):
    with pytest.raises(exc) as e:
        make()
    if exc is MemoryError:  # says what could not be had, in words that depend on where it failed
        assert "allocate" in str(e.value)
    else:
        assert str(e.value) == message


@pytest.mark.parametrize("kind", STEPPERS)
@pytest.mark.parametrize("name", ["step", "run"])
def test_phases_are_copied_and_other_arrays_must_be_contiguous(kind, name):
    make, args, _ = STEPPERS[kind]
    extra = (2,) if name == "run" else ()
    s = make()
    a = args()
    a[0] = np.repeat(a[0], 2)[::2]
    with pytest.raises(ValueError, match="^phases not contiguous(\n|$)"):
        getattr(s, name)(*a, *extra)
    a = args()
    a[1] = np.repeat(a[1], 2)[::2]
    with pytest.raises(ValueError, match=f"^{NOT_CONTIG}(\n|$)"):
        getattr(s, name)(*a, *extra)
    a = args()
    out = getattr(s, name)(*a, *extra)
    assert not np.shares_memory(out, a[0]) and bits(a[0]) == bits(args()[0])


def _clash(a, written, clash):
    if clash == "read-only":
        a[written].flags.writeable = False
    elif clash == "also phases":
        a[0] = a[written]
    elif clash == "also the lags":
        a[-1] = a[written]
    else:  # two views sharing one element
        big = np.concatenate([a[written], a[-1]])
        a[written], a[-1] = big[:len(a[written])], big[len(a[written]) - 1:-1]
    return a


@pytest.mark.parametrize("kind", ["dense", "sparse"])
@pytest.mark.parametrize("name", ["step", "run"])
@pytest.mark.parametrize("clash", ["read-only", "also phases", "also the lags", "overlap"])
def test_written_array_must_be_writeable_and_unshared(kind, name, clash):
    make, args, written = STEPPERS[kind]
    s, fresh = make(method="rk45"), make(method="rk45")
    for x in (s, fresh):
        x.set_plasticity(1.0, 0.5)  # would write the couplings if the step ran
    a = _clash(args(), written, clash)
    before = [bits(x) for x in a]
    with pytest.raises(ValueError):
        getattr(s, name)(*a, *((1,) if name == "run" else ()))
    assert [bits(x) for x in a] == before
    a, b = args(), args()  # nothing ran: the stepper still steps exactly like a fresh one
    assert bits(s.step(*a)) == bits(fresh.step(*b)) and bits(a[written]) == bits(b[written])


@pytest.mark.parametrize("kind", STEPPERS)
def test_run_is_repeated_steps_and_zero_steps_return_the_copy_unchecked(kind):
    make, args, written = STEPPERS[kind]
    s, t = make(method="rk45"), make(method="rk45")
    a, b = args(), args()
    x = a[0]
    for _ in range(5):
        x = s.step(x, *a[1:])
    assert bits(t.run(*b, 5)) == bits(x) and (written is None or bits(a[written]) == bits(b[written]))
    assert getattr(s, "last_dt", 0) == getattr(t, "last_dt", 0)
    odd = args()
    odd[0] = np.array([np.nan, 20.0])
    out = s.run(*odd, 0)
    assert bits(out) == bits(odd[0]) and not np.shares_memory(out, odd[0])
    with pytest.raises(ValueError):
        s.run(*odd, 1)


@pytest.mark.parametrize("kind", ["dense", "sparse"])
def test_failing_run_keeps_what_earlier_steps_did(kind):
    # The first step overflows a phase to infinity (wrapped to NaN); the second refuses it.
    make, args, written = STEPPERS[kind]
    s, t = make(dt=10.0), make(dt=10.0)
    for x in (s, t):
        x.set_plasticity(0.1, 0.01)
    a, b = args(), args()
    a[1][0] = b[1][0] = 1.7e308
    with pytest.raises(ValueError, match="NaN/Inf"):
        s.run(*a, 3)
    t.step(*b)
    assert bits(a[written]) == bits(b[written]) and bits(a[written]) != bits(args()[written])


@pytest.mark.parametrize("kind", ["dense", "sparse"])
@pytest.mark.parametrize("lr, decay", [(-0.0, -0.0), (0.5, -1e-300), (math.nan, 0.0), (1.0, math.inf)])
def test_plasticity_rates_are_checked(kind, lr, decay):
    make, args, written = STEPPERS[kind]
    s, a = make(), args()
    a[written][:] = -0.25  # zero rates still floor every coupling at 0.0
    if lr == 0.0:
        assert s.set_plasticity(lr, decay) is None
    else:
        with pytest.raises(ValueError, match="^invalid config: lr and decay must be finite and non-negative$"):
            s.set_plasticity(lr, decay)
    s.step(*a)
    assert (a[written] == (0.0 if lr == 0.0 else -0.25)).all()


def test_calls_into_a_busy_stepper_are_refused():
    s, seen = qk.PySparseUPDEStepper(3), []
    d, a = qk.PyUPDEStepper(3), dense_args()

    class Busy:
        def __float__(self):
            for reenter in (s.order_parameter, lambda: s.last_dt, s.disable_plasticity, lambda: d.step(*a)):
                try:
                    reenter()
                except RuntimeError as e:
                    seen.append(str(e))
            return 0.0

    b = sparse_args()
    b[5] = Busy()
    s.step(*b)  # the sparse stepper is busy: readers and writers are refused
    d.set_plasticity(Busy())  # now the dense one: only its own step is refused
    assert seen == ["Already mutably borrowed", "Already mutably borrowed", "Already borrowed", "Already borrowed"]
    d.step(*a)  # the borrows were released


DENSE_RK4 = """
import numpy as np, qel_kernel as qk
rng = np.random.default_rng({n})
n = {n}
args = (rng.uniform(-1, 7, n), rng.normal(1, .5, n), rng.uniform(-.5, 1.5, n * n), .3, .7,
        rng.uniform(-.4, .4, n * n) * {lags})
s = qk.PyUPDEStepper(n, method="rk4")
"""
RUN = "out = s.run(*args, 2).tobytes()\n"
# Above the pool's threshold (edges plus oscillators), with rows of uneven length, one of them longer than the lag
# block; the order parameter reads the sines and cosines the workers wrote, plasticity the knm they read.
SPARSE = """
import numpy as np, qel_kernel as qk
rng = np.random.default_rng(5)
n = 40000
counts = rng.integers(0, 6, n)
counts[n // 2] = 3000
rp = np.r_[0, np.cumsum(counts)].astype(np.uintp)
cols = rng.integers(0, n, rp[-1]).astype(np.uintp)
k, ph, om = rng.uniform(-.5, 1, rp[-1]), rng.uniform(0, 6, n), rng.normal(0, 1, n)
outs = []
for lags, method in ((0, "euler"), (1, "rk4"), (1, "rk45")):
    s = qk.PySparseUPDEStepper(n, dt=0.05, method=method)
    s.set_plasticity(0.1, 0.01, 1.0)
    kk = k.copy()
    outs += [s.run(ph, om, rp, cols, kk, .4, 1., rng.uniform(-.5, .5, rp[-1]) * lags, 2), kk, s.order_parameter()]
out = b"".join(np.asarray(o).tobytes() for o in outs)
"""
SHEAF = """
import numpy as np, qel_kernel as qk
rng = np.random.default_rng(11)
n, d = 67, 3
args = (rng.uniform(0, 6, n * d), rng.normal(size=n * d), rng.normal(size=(n * d) ** 2), 0.5, rng.uniform(0, 6, d))
out = b"".join(qk.PySheafUPDEStepper(n, d, dt=0.05, method=m).run(*args, 2).tobytes() for m in ("euler", "rk4", "rk45"))
"""


@pytest.mark.parametrize("code", [DENSE_RK4.format(n=256, lags=1) + RUN, DENSE_RK4.format(n=300, lags=1) + RUN,
                                  DENSE_RK4.format(n=300, lags=0) + RUN, SHEAF,
                                  SPARSE])
def test_results_do_not_depend_on_the_number_of_workers(code):
    same_on_one_cpu(code)


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""), reason="the sanitizer needs memory the limit refuses")
@pytest.mark.parametrize("margin_mib", [0, 20, 80])
def test_workers_that_cannot_start_leave_the_bits_unchanged(margin_mib):
    # A memory limit just above what the process uses stops some or all of the pool's threads (each wants its own
    # stack); the step then runs with those that started, or on the calling thread, never ending the process.
    limited = run_child(DENSE_RK4.format(n=300, lags=1) + f"""
import resource, sys
vm = int(next(l for l in open("/proc/self/status") if l.startswith("VmSize")).split()[1]) * 1024
resource.setrlimit(resource.RLIMIT_AS, (vm + {margin_mib} * 2**20, resource.RLIM_INFINITY))
{RUN}sys.stdout.write(out.hex())
""")
    here = {}
    exec(DENSE_RK4.format(n=300, lags=1) + RUN, here)
    assert bytes.fromhex(limited) == here["out"]
