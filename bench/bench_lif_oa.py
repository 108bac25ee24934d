"""Integrate-and-fire ensemble and Ott-Antonsen reduction against NumPy and SciPy.

The ensemble's one-worker figures run pinned to one CPU in a subprocess (ours and
the NumPy loop there alike); the pool's speed-up divides that time by the time of
the same step on every core.
"""
import os
import subprocess
import sys
import time

import numpy as np
from scipy.integrate import solve_ivp

import qel_kernel as qk
from harness import compare, cores, header

LEAK = 0.05


def numpy_lif(n_layers, per_layer, currents, n_substeps):
    """The ensemble as masked NumPy updates, one substep at a time."""
    v = np.zeros(n_layers * per_layer)
    refractory = np.zeros(v.size, dtype=np.int32)
    spikes = np.zeros(v.size, dtype=np.uint64)
    drive = np.repeat(currents, per_layer)
    for _ in range(n_substeps):
        held = refractory > 0
        v[held] = 0.0
        refractory[held] -= 1
        free = ~held
        v[free] = (drive[free] - v[free] * LEAK) + v[free]
        fire = free & (v >= 1.0)
        spikes[fire] += 1
        v[fire] = 0.0
        refractory[fire] = 0
    window = n_substeps / 1000.0
    return spikes.reshape(n_layers, per_layer).sum(axis=1) / (window * per_layer)


def lif_step_time(n_layers, per_layer, n_substeps, repeat=5):
    """Best time of one step of one ensemble (the work per step does not depend on the state)."""
    currents = np.linspace(0.0, 0.12, n_layers)
    e = qk.PyLIFEnsemble(n_layers, per_layer)
    e.step(currents, 1)  # first touch of the state's pages
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        e.step(currents, n_substeps)
        best = min(best, time.perf_counter() - t0)
    return best


def one_cpu_times(with_numpy, n_layers, per_layer, n_substeps):
    """Our step, and the NumPy loop if asked, on one CPU (run pinned, in a subprocess)."""
    currents = np.linspace(0.0, 0.12, n_layers)
    ours = lif_step_time(n_layers, per_layer, n_substeps)
    if not with_numpy:
        return (ours,)
    return ours, min(timeit_once(lambda: numpy_lif(n_layers, per_layer, currents, n_substeps)) for _ in range(3))


PINNED = ("import os, sys; os.sched_setaffinity(0, {min(os.sched_getaffinity(0))}); sys.path.insert(0, sys.argv[1]); "
          "import bench_lif_oa as b; print(*b.one_cpu_times(*map(int, sys.argv[2:])))")


def pinned_times(*args):
    out = subprocess.run([sys.executable, "-c", PINNED, os.path.dirname(os.path.abspath(__file__)), *map(str, args)],
                         capture_output=True, text=True, check=True, env=dict(os.environ))
    return tuple(map(float, out.stdout.split()))


def oa_rhs(omega_0, delta, k):
    def f(_t, z):
        x, y = z
        s = (1.0 - (x * x + y * y)) * (k * 0.5)
        return [s * x + (y * omega_0 - x * delta), s * y + (y * (-delta) - x * omega_0)]
    return f


def main():
    header("integrate-and-fire ensemble, 10 layers x 10^4 neurons, 100 substeps")
    n_layers, per_layer, substeps = 10, 10_000, 100
    currents = np.linspace(0.0, 0.12, n_layers)
    ours_rates = qk.PyLIFEnsemble(n_layers, per_layer).step(currents, substeps)
    assert np.array_equal(ours_rates, numpy_lif(n_layers, per_layer, currents, substeps))
    t_one, t_ref = pinned_times(1, n_layers, per_layer, substeps)
    ratio = t_ref / t_one
    print(f"{'step vs NumPy masked updates, both on one CPU':52s} {t_one * 1e3:8.2f} ms {t_ref * 1e3:8.2f} ms "
          f"{ratio:8.2f}x  >= 5x {'ok' if ratio >= 5 else 'MISSED'}")

    header("integrate-and-fire ensemble, 10 layers x 10^5 neurons, 100 substeps: pool vs one worker")
    t_one = pinned_times(0, 10, 100_000, 100)[0]
    t_all = lif_step_time(10, 100_000, 100)
    target = 0.75 * cores()
    print(f"{'pool speed-up over one worker':52s} {t_all * 1e3:8.2f} ms {t_one * 1e3:8.2f} ms "
          f"{t_one / t_all:8.2f}x  >= {target:g}x {'ok' if t_one / t_all >= target else 'MISSED'}")

    header("Ott-Antonsen reduction")
    args = (0.1, 0.05, 0.3, 0.5, 2.0)
    x, y, r, _ = qk.oa_run_rust(*args, 0.01, 10_000)
    sol = solve_ivp(oa_rhs(*args[2:]), (0.0, 100.0), args[:2], method="RK45", rtol=1e-9, atol=1e-12)
    assert abs(r - np.hypot(*sol.y[:, -1])) < 1e-6
    compare("oa_run_rust t=100 dt=0.01 vs solve_ivp RK45",
            lambda: qk.oa_run_rust(*args, 0.01, 10_000),
            lambda: solve_ivp(oa_rhs(*args[2:]), (0.0, 100.0), args[:2], method="RK45", rtol=1e-9, atol=1e-12),
            target=30, repeat=3)

    omegas = np.random.default_rng(0).standard_cauchy(10**6) * 0.3 + 1.0

    def numpy_fit():
        s = np.sort(omegas)
        n = s.size
        q1, q3 = s[n // 4], s[3 * n // 4]
        return (s[n // 2 - 1] + s[n // 2]) * 0.5, (q3 - q1) * 0.5 if q1 < q3 else 0.01

    assert qk.fit_lorentzian_rust(omegas) == numpy_fit()
    compare("fit_lorentzian_rust 10^6 vs np.sort + indexing", lambda: qk.fit_lorentzian_rust(omegas), numpy_fit,
            target=2)


def timeit_once(fn):
    t0 = time.perf_counter()
    fn()
    return time.perf_counter() - t0


if __name__ == "__main__":
    main()
