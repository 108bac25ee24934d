"""Stuart-Landau and inertial steppers against NumPy loops of the same equations and SciPy's RK45.

One-worker figures come from a copy of this script pinned to one CPU (the pool follows the affinity mask).

    python3 bench/bench_oscillators.py
"""
import json
import math
import os
import subprocess
import sys

import numpy as np

import qel_kernel as qk
from harness import TWO_PI, best_time, compare, cores, fmt, header, np_wrap


def sl_network(n, lags, seed=0):
    rng = np.random.default_rng(seed)
    state = np.concatenate([rng.uniform(0.0, TWO_PI, n), rng.uniform(0.5, 1.5, n)])
    omegas, mu = rng.normal(1.0, 0.3, n), rng.uniform(0.5, 1.5, n)
    knm, knm_r = rng.uniform(0.0, 2.0 / n, n * n), rng.uniform(0.0, 1.0 / n, n * n)
    alpha = rng.uniform(-0.3, 0.3, n * n) if lags else np.zeros(n * n)
    return state, omegas, mu, knm, knm_r, 0.5, 1.0, alpha, 0.2


def sl_rhs(n, omegas, mu, knm, knm_r, zeta, psi, alpha, eps):
    k, kr, a = knm.reshape(n, n), knm_r.reshape(n, n), alpha.reshape(n, n)

    def f(y):
        th, r = y[:n], y[n:]
        d = (th[None, :] - th[:, None]) - a
        dth = omegas + (k * np.sin(d)).sum(axis=1) + zeta * np.sin(psi - th)
        dr = (mu - r * r) * r + eps * (np.cos(d) * (np.maximum(r, 0.0)[None, :] * kr)).sum(axis=1)
        return np.concatenate([dth, dr])
    return f


def np_rk4_run(f, y, h, steps):
    n = len(y) // 2
    for _ in range(steps):
        k1 = f(y)
        k2 = f(y + 0.5 * h * k1)
        k3 = f(y + 0.5 * h * k2)
        k4 = f(y + h * k3)
        y = y + (k1 + 2 * k2 + 2 * k3 + k4) * (h / 6)
        y = np.concatenate([np_wrap(y[:n]), np.maximum(y[n:], 0.0)])
    return y


def circle_gap(a, b, n):
    a, b = np.asarray(a), np.asarray(b)
    dth = np.abs((a[:n] - b[:n] + math.pi) % TWO_PI - math.pi)
    return float(max(dth.max(), np.abs(a[n:] - b[n:]).max()))


def stuart_landau_small():
    from scipy.integrate import solve_ivp

    n, dt, steps = 16, 0.01, 1000
    state, *inputs = sl_network(n, False)
    f = sl_rhs(n, *inputs)
    o, mu, k, kr, z, p, a, e = inputs

    def ours():
        return qk.PyStuartLandauStepper(n, dt=dt, method="rk4").run(state, o, mu, k, kr, z, p, a, e, steps)

    def numpy_loop():
        return np_rk4_run(f, state, dt, steps)

    def scipy_rk45():
        return solve_ivp(lambda _t, y: f(y), (0.0, 10.0), state, method="RK45", rtol=1e-8, atol=1e-10).y[:, -1]

    compare("Stuart-Landau n=16 RK4 run t=10 vs NumPy RK4 loop", ours, numpy_loop, 20)
    compare("Stuart-Landau n=16 RK4 run t=10 vs solve_ivp RK45", ours, scipy_rk45, 20)
    gaps = circle_gap(ours(), numpy_loop(), n), circle_gap(ours(), scipy_rk45(), n)
    print(f"    final states: max gap to NumPy {gaps[0]:.1e}, to solve_ivp {gaps[1]:.1e} "
          f"{'ok' if max(gaps) <= 1e-6 else 'MISSED'} (<= 1e-6)")


def inertial_network(n, seed=0):
    rng = np.random.default_rng(seed)
    return (rng.uniform(0.0, TWO_PI, n), rng.normal(0.0, 0.5, n), rng.normal(0.0, 0.3, n),
            rng.uniform(0.0, 2.0 / n, n * n), rng.uniform(0.5, 2.0, n), rng.uniform(0.05, 0.3, n))


def np_inertial_run(theta, w, power, knm, inertia, damping, n, dt, steps):
    k = knm.reshape(n, n)

    def f(th, om):
        s, c = np.sin(th), np.cos(th)
        return om, (((k @ s) * c - (k @ c) * s + power) - damping * om) / inertia

    traj_t, traj_w = np.empty(steps * n), np.empty(steps * n)
    for t in range(steps):
        a1, b1 = f(theta, w)
        a2, b2 = f(theta + 0.5 * dt * a1, w + 0.5 * dt * b1)
        a3, b3 = f(theta + 0.5 * dt * a2, w + 0.5 * dt * b2)
        a4, b4 = f(theta + dt * a3, w + dt * b3)
        theta = np_wrap(theta + (a1 + 2 * a2 + 2 * a3 + a4) * (dt / 6))
        w = w + (b1 + 2 * b2 + 2 * b3 + b4) * (dt / 6)
        traj_t[t * n:(t + 1) * n], traj_w[t * n:(t + 1) * n] = theta, w
    return theta, w, traj_t, traj_w


def inertial_small():
    n, dt, steps = 16, 0.01, 2000
    args = inertial_network(n)
    compare("inertial_run_rust n=16, 2000 steps vs NumPy RK4 loop", lambda: qk.inertial_run_rust(*args, n, dt, steps),
            lambda: np_inertial_run(*args, n, dt, steps), 20)
    ours, ref = qk.inertial_run_rust(*args, n, dt, steps), np_inertial_run(*args, n, dt, steps)
    print(f"    final phases differ by {circle_gap(np.r_[ours[0], ours[1]], np.r_[ref[0], ref[1]], n):.1e}")


def big_cases(n=2048):
    sl = sl_network(n, True)
    s = qk.PyStuartLandauStepper(n, method="rk4")
    st, *rest = sl
    o, mu, k, kr, z, p, a, e = rest
    args = inertial_network(n)
    return {"stuart-landau lags RK4 step": lambda: s.step(st, o, mu, k, kr, z, p, a, e),
            "inertial step": lambda: qk.inertial_step_rust(*args, n, 0.01)}, args


def pinned_run(mode):
    env = dict(os.environ, OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1", MKL_NUM_THREADS="1")
    return subprocess.run([sys.executable, __file__, mode], env=env, capture_output=True, text=True,
                          check=True).stdout


def one_worker_main():
    os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
    cases, args = big_cases()
    times = {name: best_time(fn, repeat=3) for name, fn in cases.items()}
    n = 2048
    times["numpy"] = best_time(lambda: np_inertial_run(*args, n, 0.01, 1), repeat=3)
    print(json.dumps(times))


def main():
    header("Stuart-Landau and inertial steppers")
    stuart_landau_small()
    inertial_small()
    cases, _ = big_cases()
    one = json.loads(pinned_run("--one-worker"))
    target = 0.75 * cores()
    for name, fn in cases.items():
        t_pool = best_time(fn, repeat=3)
        speedup = one[name] / t_pool
        print(f"{'n=2048 ' + name + ', pool vs one worker':52s} {fmt(t_pool):>11s} {fmt(one[name]):>11s} "
              f"{speedup:8.2f}x  >= {target:g}x {'ok' if speedup >= target else 'MISSED'}")
    ratio = one["numpy"] / one["inertial step"]
    print(f"{'n=2048 inertial step vs NumPy K@sin, K@cos (1 CPU)':52s} {fmt(one['inertial step']):>11s} "
          f"{fmt(one['numpy']):>11s} {ratio:8.2f}x  >= 1x {'ok' if ratio >= 1 else 'MISSED'}")


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--one-worker":
        one_worker_main()
    else:
        main()
