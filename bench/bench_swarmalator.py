"""Swarmalator runs against a NumPy broadcast loop of the same steps, and the pool against one worker.

The NumPy loop does what the run does: check lengths and finiteness, take n_steps Euler steps of all pairs at
once, wrap the phases, keep both trajectories. One-worker figures come from a copy of this script pinned to one
CPU (the pool follows the affinity mask). With Numba available (the benchmark venv), a parallel Numba loop of
the same formula is timed as well.

    python3 bench/bench_swarmalator.py
"""
import json
import os
import subprocess
import sys

import numpy as np

import qel_kernel as qk
from harness import TWO_PI, best_time, compare, cores, fmt, header, np_wrap

DT, A, B, J, K = 0.01, 1.0, 1.0, 0.5, 1.0


def swarm(n, dim, seed=0):
    rng = np.random.default_rng(seed)
    return rng.uniform(-1.0, 1.0, n * dim), rng.uniform(0.0, TWO_PI, n), rng.normal(1.0, 0.3, n)


def numpy_run(pos, phases, omegas, n, dim, n_steps):
    if len(pos) != n * dim or len(phases) != n or len(omegas) != n:
        raise ValueError("invalid dimension")
    traj_x, traj_th = np.empty((n_steps, n * dim)), np.empty((n_steps, n))
    x, th = pos.reshape(n, dim).copy(), phases.copy()
    for t in range(n_steps):
        if not (np.isfinite(x).all() and np.isfinite(th).all() and np.isfinite(omegas).all()):
            raise ValueError("integration diverged")
        diff = x[None, :, :] - x[:, None, :]  # [i, m] = x_m - x_i
        d2 = np.einsum("imd,imd->im", diff, diff) + 1e-6
        inv_r = 1.0 / np.sqrt(d2)
        s, c = np.sin(th), np.cos(th)
        w = (np.multiply.outer(s, s) + np.multiply.outer(c, c)) * J + A
        w = w * inv_r - B / d2
        np.fill_diagonal(w, 0.0)
        sd = (np.multiply.outer(c, s) - np.multiply.outer(s, c)) * inv_r  # sin(theta_m - theta_i) / r
        np.fill_diagonal(sd, 0.0)
        x = x + np.einsum("imd,im->id", diff, w) * (DT / n)
        th = np_wrap(th + (omegas + (K / n) * sd.sum(axis=1)) * DT)
        traj_x[t], traj_th[t] = x.ravel(), th
    return x.ravel(), th, traj_x.ravel(), traj_th.ravel()


def numba_run():
    """A parallel Numba run of the same formula (rows over prange), or None without Numba."""
    try:
        import numba
    except ImportError:
        return None

    @numba.njit(parallel=True, fastmath=False, cache=False)
    def run(pos, phases, omegas, n, dim, n_steps):
        x, th = pos.copy(), phases.copy()
        traj_x, traj_th = np.empty(n_steps * n * dim), np.empty(n_steps * n)
        dx, dth = np.empty(n * dim), np.empty(n)
        inv_n = 1.0 / n
        for t in range(n_steps):
            s, c = np.sin(th), np.cos(th)
            for i in numba.prange(n):
                acc = omegas[i]
                for d in range(dim):
                    dx[i * dim + d] = 0.0
                for m in range(n):
                    if m == i:
                        continue
                    d2 = 0.0
                    for d in range(dim):
                        e = x[m * dim + d] - x[i * dim + d]
                        d2 += e * e
                    d2 += 1e-6
                    inv_r = 1.0 / np.sqrt(d2)
                    att = ((s[i] * s[m] + c[i] * c[m]) * J + A) * inv_r
                    rep = B / d2
                    for d in range(dim):
                        e = x[m * dim + d] - x[i * dim + d]
                        dx[i * dim + d] += att * e - e * rep
                    acc += inv_r * ((K * inv_n) * (s[m] * c[i] - c[m] * s[i]))
                dth[i] = acc
            for i in range(n):
                for d in range(dim):
                    x[i * dim + d] += (dx[i * dim + d] * DT) * inv_n
                r = np.fmod(th[i] + dth[i] * DT, TWO_PI)
                th[i] = r + TWO_PI if r < 0.0 else r
            traj_x[t * n * dim:(t + 1) * n * dim] = x
            traj_th[t * n:(t + 1) * n] = th
        return x, th, traj_x, traj_th

    return run


def case(n, dim, n_steps):
    pos, phases, omegas = swarm(n, dim)
    return (lambda: qk.swarmalator_run_rust(pos, phases, omegas, n, dim, DT, A, B, J, K, n_steps)), \
        (lambda: numpy_run(pos, phases, omegas, n, dim, n_steps)), (pos, phases, omegas)


def pinned_run(*args):
    env = dict(os.environ, OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1", NUMBA_NUM_THREADS="1")
    return subprocess.run([sys.executable, __file__, *args], env=env, capture_output=True, text=True,
                          check=True).stdout


def pin_self():
    os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})


def one_worker_main():
    pin_self()
    header("one worker (pinned to one CPU)")
    ours, reference, _ = case(500, 2, 200)
    got, want = ours(), reference()
    assert all(np.allclose(g, w, rtol=1e-9, atol=1e-9) for g, w in zip(got, want))
    compare("run n=500 dim=2, 200 steps vs NumPy broadcast loop", ours, reference, target=2, repeat=3)
    sys.stdout.flush()


def one_worker_time(n, n_steps):
    pin_self()
    ours, _, _ = case(n, 2, n_steps)
    print(json.dumps(best_time(ours, repeat=3)))


def main():
    header("swarmalator")
    sys.stdout.write(pinned_run("--one-worker"))
    ours, reference, _ = case(500, 2, 200)
    compare("run n=500 dim=2, 200 steps vs NumPy broadcast loop, pool", ours, reference, repeat=3)

    n, n_steps = 2000, 10
    ours, _, (pos, phases, omegas) = case(n, 2, n_steps)
    t_pool = best_time(ours, repeat=10)  # the machine is shared: the quietest of more repeats
    t_one = json.loads(pinned_run("--one-worker-time", str(n), str(n_steps)))
    speedup, target = t_one / t_pool, 0.75 * cores()
    print(f"{f'run n={n} dim=2, {n_steps} steps: pool vs one worker':52s} {fmt(t_pool):>11s} {fmt(t_one):>11s} "
          f"{speedup:8.2f}x  >= {target:g}x {'ok' if speedup >= target else 'MISSED'}")

    nb = numba_run()
    if nb is not None:
        nb(pos, phases, omegas, n, 2, 1)  # compile
        compare(f"run n={n} dim=2, {n_steps} steps vs parallel Numba", ours,
                lambda: nb(pos, phases, omegas, n, 2, n_steps), repeat=5)


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--one-worker":
        one_worker_main()
    elif len(sys.argv) > 1 and sys.argv[1] == "--one-worker-time":
        one_worker_time(int(sys.argv[2]), int(sys.argv[3]))
    else:
        main()
