"""What the test files share: bit patterns, the wrap, the internal error, lockstep comparison with a reference, and
child runs (pinned to one CPU, or under a resource limit)."""
import os
import subprocess
import sys

import numpy as np
import pytest

from reference.integrators import TWO_PI, wrap  # noqa: F401  (the one wrap, for every test)


def bits(values):
    """Bit patterns of float64 values: -0.0 differs from 0.0, and NaN equals NaN."""
    return np.asarray(values, dtype=np.float64).tobytes()


def internal_error(call, *args):
    """The message of the internal error (derived from BaseException, not Exception) that call(*args) raises."""
    with pytest.raises(BaseException) as info:
        call(*args)
    assert type(info.value).__name__ == "PanicException" and not isinstance(info.value, Exception)
    return str(info.value)


def lockstep(ours, theirs, y, steps, *shared):
    """Advances ours(y) and theirs(y) side by side from the same y, comparing the bits of the new phases and of
    every array in `shared` (pairs of ours, theirs, e.g. couplings changed by plasticity) after each step."""
    a = b = np.asarray(y, dtype=float)
    for _ in range(steps):
        a, b = ours(a), theirs(b)
        assert bits(a) == bits(b)
        for x, z in shared:
            assert bits(x) == bits(z)
    return a


PIN = "import os; os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})\n"


def run_child(code, pinned=False):
    """stdout of `code` run by a fresh interpreter that imports what this one imports."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    done = subprocess.run([sys.executable, "-c", (PIN if pinned else "") + code], env=env, capture_output=True,
                          text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    return done.stdout


def same_on_one_cpu(code):
    """Runs `code`, which leaves bytes in `out`, here and in a child pinned to one CPU (the worker pool follows the
    affinity mask); the two must be equal."""
    here = {}
    exec(code, here)
    child = run_child(code + "\nimport sys; sys.stdout.write(out.hex())", pinned=True)
    assert bytes.fromhex(child) == here["out"] and here["out"]
