"""Steady-state order parameter against a NumPy-vectorised Euler step of the
same model, the parallel speed-up of the coupling sweep over one worker, and
steady_state_r, the critical-coupling bisection and basin stability against a
parallel Numba loop of the same formula (rows, or samples, over prange).

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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from reference import bifurcation as bif_ref  # noqa: E402

try:
    import numba
except ImportError:  # the Numba rows are skipped
    numba = None

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


if numba is not None:
    @numba.njit(cache=True)
    def _nb_row(theta, omegas, k, lag, n, i):
        s = 0.0
        yi = theta[i]
        for j in range(n):
            s += k[i * n + j] * math.sin((theta[j] - yi) - lag[i * n + j])
        return s + omegas[i]

    @numba.njit(cache=True)
    def _nb_order(theta):
        c = 0.0
        s = 0.0
        for x in theta:
            c += math.cos(x)
            s += math.sin(x)
        return math.hypot(c, s) / theta.size

    def _relax(phases, omegas, knm, lag, n, k_scale, dt, n_transient, n_measure):
        """Euler relaxation; each step's rows over prange where compiled parallel."""
        k = knm * k_scale
        theta = phases.copy()
        d = np.empty(n)
        total = 0.0
        for t in range(n_transient + n_measure):
            for i in numba.prange(n):
                d[i] = _nb_row(theta, omegas, k, lag, n, i)
            for i in range(n):
                theta[i] = theta[i] + d[i] * dt
            if t >= n_transient:
                total += _nb_order(theta)
        return total / n_measure

    # Not cached: both compilations come from one function, which a cache would not tell apart.
    nb_relax_rows = numba.njit(parallel=True)(_relax)
    _nb_relax_serial = numba.njit(_relax)

    @numba.njit(parallel=True, cache=True)
    def nb_basin(omegas, knm, lag, n, dt, n_transient, n_measure, n_samples, threshold, seed):
        """Phases from the same 64-bit LCG stream, then the samples over prange."""
        phases = np.empty((n_samples, n))
        state = np.uint64(seed)
        for s in range(n_samples):
            for i in range(n):
                state = state * np.uint64(6364136223846793005) + np.uint64(1442695040888963407)
                phases[s, i] = float(state >> np.uint64(33)) * 2.0**-31 * 2 * math.pi
        r = np.empty(n_samples)
        for s in numba.prange(n_samples):
            r[s] = _nb_relax_serial(phases[s], omegas, knm, lag, n, 1.0, dt, n_transient, n_measure)
        return (r >= threshold).mean(), r


def nb_bisection(phases, omegas, knm, lag, n, dt, n_transient, n_measure, tol):
    """The same bisection on [0, 20], each run a prange-row relaxation."""
    return bif_ref.bisection(lambda k: nb_relax_rows(phases, omegas, knm, lag, n, k, dt, n_transient, n_measure), tol)


def numba_cases():
    if numba is None:
        print("numba not installed: rows skipped")
        return
    header("against a parallel Numba loop of the same formula")
    n = 512
    args = (*network(n, 1.0), n, 1.5, DT, N_TRANSIENT, N_MEASURE)
    assert math.isclose(qk.steady_state_r_rust(*args), nb_relax_rows(*args), rel_tol=1e-9)
    compare(f"steady_state_r_rust n = {n}, rows over the pool", lambda: qk.steady_state_r_rust(*args),
            lambda: nb_relax_rows(*args), 1.0)
    n = 256
    phases, omegas, knm, alpha = network(n, 1.0, seed=2)
    bis = (omegas, knm, alpha, n, phases, DT, N_TRANSIENT, N_MEASURE, 1e-3)
    nb_args = (phases, omegas, knm, alpha, n, DT, N_TRANSIENT, N_MEASURE, 1e-3)
    assert math.isclose(qk.find_critical_coupling_bif_rust(*bis), nb_bisection(*nb_args), rel_tol=1e-6)
    compare(f"find_critical_coupling_bif_rust n = {n}", lambda: qk.find_critical_coupling_bif_rust(*bis),
            lambda: nb_bisection(*nb_args), 1.0)
    n, samples = 64, 256
    _, omegas, knm, alpha = network(n, 1.0, seed=3)
    basin = (omegas, knm, alpha, n, DT, 100, 20, samples, 0.5, 9)
    ours, theirs = qk.basin_stability_rust(*basin), nb_basin(*basin)
    assert np.allclose(ours[1], theirs[1], rtol=1e-9)
    compare(f"basin_stability_rust n = {n}, {samples} samples, 100 + 20 steps", lambda: qk.basin_stability_rust(*basin),
            lambda: nb_basin(*basin), 1.0)


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

    numba_cases()

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
