"""Strang splitting and delayed-coupling runs against NumPy loops of the same steps.

The NumPy loops do the arithmetic of ours with NumPy's arrays: matrix-vector
products of the coupling with the sines and cosines on the zero-lag path, a
matrix of sines otherwise, and a ring of sine and cosine arrays for the delay.
One-worker figures come from a copy of this script pinned to one CPU (the pool
follows the affinity mask).

    python3 bench/bench_splitting_delay.py
"""
import json
import math
import os
import subprocess
import sys

import numpy as np

import qel_kernel as qk
from harness import TWO_PI, random_network, best_time, compare, cores, fmt, header, np_wrap

DT = 0.01


def network(n, lags, seed=0):
    phases, omegas, knm, alpha = random_network(n, lags, seed)
    return phases, omegas, knm, alpha, 0.5, 1.0


def pairwise(k, a, zero_lag, theta, s, c, src_theta, src_s, src_c):
    """sum_j K_ij sin(src_j - theta_i - alpha_ij) for every i."""
    if zero_lag:
        return (k @ src_s) * c - (k @ src_c) * s
    return (k * np.sin(src_theta[None, :] - theta[:, None] - a)).sum(axis=1)


def np_splitting_run(phases, omegas, knm, alpha, zeta, psi, steps):
    n = len(phases)
    k, a, zero_lag = knm.reshape(n, n), alpha.reshape(n, n), not alpha.any()
    zs, zc = zeta * math.sin(psi), zeta * math.cos(psi)

    def field(y):
        s, c = np.sin(y), np.cos(y)
        return pairwise(k, a, zero_lag, y, s, c, y, s, c) + (c * zs - s * zc)

    th, half = phases.copy(), 0.5 * DT
    for _ in range(steps):
        th = np_wrap(th + omegas * half)
        k1 = field(th)
        k2 = field(np_wrap(th + half * k1))
        k3 = field(np_wrap(th + half * k2))
        k4 = field(np_wrap(th + DT * k3))
        th = np_wrap(th + (k1 + 2.0 * k2 + 2.0 * k3 + k4) * (DT / 6.0))
        th = np_wrap(th + omegas * half)
    return th


def np_delayed_run(phases, omegas, knm, alpha, zeta, psi, delay, steps):
    n = len(phases)
    k, a, zero_lag = knm.reshape(n, n), alpha.reshape(n, n), not alpha.any()
    zs, zc = zeta * math.sin(psi), zeta * math.cos(psi)
    ring_s, ring_c = np.zeros((delay + 1, n)), np.zeros((delay + 1, n))
    th, w = phases.copy(), 0
    for step in range(steps):
        s, c = np.sin(th), np.cos(th)
        ring_s[w], ring_c[w] = s, c
        r = (w + 1) % (delay + 1) if delay >= 1 and step >= delay else w
        hs, hc = ring_s[r], ring_c[r]
        src = None if zero_lag else np.arctan2(hs, hc)
        d = pairwise(k, a, zero_lag, th, s, c, src, hs, hc) + omegas + (c * zs - s * zc)
        th = np_wrap(th + DT * d)
        w = (w + 1) % (delay + 1)
    return th


def splitting_case(n, lags, steps):
    args = network(n, lags)
    ours = lambda: qk.splitting_run_rust(*args[:4], n, *args[4:], DT, steps)  # noqa: E731
    ref = lambda: np_splitting_run(*args, steps)  # noqa: E731
    assert np.allclose(ours(), ref(), atol=1e-9)
    return ours, ref


def delayed_case(n, lags, delay, steps):
    args = network(n, lags)
    ours = lambda: qk.delayed_kuramoto_run_rust(*args[:4], n, *args[4:], DT, delay, steps)  # noqa: E731
    ref = lambda: np_delayed_run(*args, delay, steps)  # noqa: E731
    assert np.allclose(ours(), ref(), atol=1e-9)
    return ours, ref


POOL_N, POOL_STEPS = 2048, 4


def pinned_run(*extra):
    """Runs this script pinned to one CPU; returns its stdout."""
    env = dict(os.environ, OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1")
    out = subprocess.run([sys.executable, __file__, *extra], env=env, capture_output=True, text=True, check=True)
    return out.stdout


def one_worker_time():
    os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
    ours, _ = delayed_case(POOL_N, True, 5, POOL_STEPS)
    print(json.dumps(best_time(ours, repeat=3)))


def main():
    header("Strang splitting and delayed coupling")
    ours, ref = splitting_case(16, False, 2000)
    compare("splitting_run_rust n=16, 2000 steps, zero lags", ours, ref, 15)
    ours, ref = splitting_case(16, True, 2000)
    compare("splitting_run_rust n=16, 2000 steps, lags", ours, ref)
    ours, ref = delayed_case(16, False, 5, 2000)
    compare("delayed_kuramoto_run_rust n=16, D=5, 2000 steps, zero lags", ours, ref, 15)
    ours, ref = delayed_case(16, True, 5, 2000)
    compare("delayed_kuramoto_run_rust n=16, D=5, 2000 steps, lags", ours, ref)
    ours, ref = splitting_case(256, False, 100)
    compare("splitting_run_rust n=256, 100 steps, zero lags (serial)", ours, ref, 1)

    ours, _ = delayed_case(POOL_N, True, 5, POOL_STEPS)
    t_pool = best_time(ours, repeat=3)
    t_one = json.loads(pinned_run("--one-worker-time"))
    speedup = t_one / t_pool
    target = 0.75 * cores()
    print(f"{'delayed n=2048 lags, D=5, 4 steps: pool vs one worker':52s} {fmt(t_pool):>11s} {fmt(t_one):>11s} "
          f"{speedup:8.2f}x  >= {target:g}x {'ok' if speedup >= target else 'MISSED'}")


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--one-worker-time":
        one_worker_time()
    else:
        main()
