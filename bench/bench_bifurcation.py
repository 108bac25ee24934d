"""Steady-state order parameter against a NumPy-vectorised Euler step of the
same model, and the parallel speed-up of the coupling sweep over one worker.

`python bench_bifurcation.py` prints both; `--one-worker POINTS` is the
pinned subprocess that times the sweep on one CPU.
"""
import json
import math
import os
import subprocess
import sys

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

import qel_kernel as qk  # noqa: E402
from harness import best_time, compare, cores, fmt, header  # noqa: E402

DT, N_TRANSIENT, N_MEASURE = 0.01, 20, 20


def network(n, density, seed=0):
    rng = np.random.default_rng(seed)
    phases = rng.uniform(0.0, 2 * math.pi, n)
    omegas = rng.normal(1.0, 0.1, n)
    knm = rng.uniform(0.0, 2.0 / n, n * n) * (rng.uniform(size=n * n) < density)
    alpha = rng.uniform(-0.3, 0.3, n * n)
    return phases, omegas, knm, alpha


def numpy_steady_state_r(phases, omegas, knm, alpha, n, k_scale, dt, n_transient, n_measure):
    """The same relaxation, one vectorised Euler step per time step."""
    theta = phases.copy()
    k = knm.reshape(n, n) * k_scale
    lag = alpha.reshape(n, n)
    total = 0.0
    for t in range(n_transient + n_measure):
        d = theta - theta[:, None]
        d -= lag
        np.sin(d, out=d)
        d *= k
        theta = theta + dt * (d.sum(axis=1) + omegas)
        if t >= n_transient:
            total += math.hypot(np.cos(theta).mean(), np.sin(theta).mean())
    return total / n_measure


def sweep_case(points, n=128):
    phases, omegas, knm, alpha = network(n, 1.0, seed=1)
    return lambda: qk.trace_sync_transition_rust(omegas, knm, alpha, n, phases, 0.0, 3.0, points, DT, 10, 10)


def one_worker_time(points):
    os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
    print(json.dumps(best_time(sweep_case(points), repeat=3)))


def main():
    header("steady_state_r_rust vs NumPy Euler steps (20 transient + 20 measured)")
    for n, density, target in ((256, 1.0, 1), (256, 0.1, 5), (16, 1.0, 5)):
        args = (*network(n, density), n, 1.5, DT, N_TRANSIENT, N_MEASURE)
        compare(f"n = {n}, {density:.0%} non-zero couplings", lambda: qk.steady_state_r_rust(*args),
                lambda: numpy_steady_state_r(*args), target)

    header("trace_sync_transition_rust, n = 128, 4 x cores grid points: all workers vs one")
    points = 4 * cores()
    ours = best_time(sweep_case(points), repeat=3)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    one = json.loads(subprocess.run([sys.executable, __file__, "--one-worker", str(points)], env=env,
                                    capture_output=True, text=True, check=True).stdout)
    target = 0.75 * cores()
    ratio = one / ours
    print(f"{'sweep speed-up over one pinned worker':52s} {fmt(ours):>11s} {fmt(one):>11s} {ratio:8.2f}x  "
          f">= {target:g}x {'ok' if ratio >= target else 'MISSED'}")


if __name__ == "__main__":
    if sys.argv[1:2] == ["--one-worker"]:
        one_worker_time(int(sys.argv[2]))
    else:
        main()
