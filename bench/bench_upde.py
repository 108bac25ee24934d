"""Dense UPDE stepper against NumPy steps of the same equations, SciPy's RK45,
and a parallel Numba loop of the same formula.

The NumPy steps do what our step does: check lengths and finiteness, take one
Euler step, wrap into [0, 2pi). The Numba peer (prange over rows, math.sin)
takes the Euler step and wraps, without the checks. One-worker figures come
from a copy of this script pinned to one CPU (the pool follows the affinity
mask). The floor of the general path is n*n calls of glibc's sin, timed in C
on this machine, shared by the cores.

    python3 bench/bench_upde.py                        # without the Numba peer
    /work/venv-bench/bin/python bench/bench_upde.py    # with it
"""
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np

import qel_kernel as qk
from harness import TWO_PI, random_network, best_time, compare, compare_peers, cores, fmt, header, np_wrap, numba

DT = 0.01


def network(n, lags, seed=0):
    phases, omegas, knm, alpha = random_network(n, lags, seed)
    return phases, omegas, knm, 0.5, 1.0, alpha


def np_checks(n, phases, omegas, knm, zeta, psi, alpha):
    if len(phases) != n or len(omegas) != n or len(knm) != n * n or len(alpha) != n * n:
        raise ValueError("invalid dimension")
    if not (np.isfinite(phases).all() and np.isfinite(omegas).all() and np.isfinite(knm).all()
            and np.isfinite(alpha).all() and math.isfinite(zeta) and math.isfinite(psi)):
        raise ValueError("integration diverged")


def np_euler_pairwise(n, phases, omegas, knm, zeta, psi, alpha):
    np_checks(n, phases, omegas, knm, zeta, psi, alpha)
    k, a = knm.reshape(n, n), alpha.reshape(n, n)
    d = omegas + (k * np.sin(phases[None, :] - phases[:, None] - a)).sum(axis=1)
    if zeta != 0.0:
        d = d + zeta * np.sin(psi - phases)
    return np_wrap(phases + DT * d)


def np_euler_matvec(n, phases, omegas, knm, zeta, psi, alpha):
    np_checks(n, phases, omegas, knm, zeta, psi, alpha)
    k = knm.reshape(n, n)
    s, c = np.sin(phases), np.cos(phases)
    d = omegas + (k @ s) * c - (k @ c) * s
    if zeta != 0.0:
        d = d + zeta * np.sin(psi - phases)
    return np_wrap(phases + DT * d)


def numba_steps():
    """Euler steps of the general and the zero-lag form as parallel Numba loops, or (None, None)."""
    nb = numba()
    if nb is None:
        return None, None

    @nb.njit(parallel=True)
    def general(phases, omegas, knm, zeta, psi, alpha):
        n = phases.size
        out = np.empty(n)
        for i in nb.prange(n):
            ti = phases[i]
            s = 0.0
            for j in range(n):
                s += knm[i, j] * math.sin(phases[j] - ti - alpha[i, j])
            x = ti + DT * (omegas[i] + s + zeta * math.sin(psi - ti))
            r = np.fmod(x, TWO_PI)
            out[i] = r + TWO_PI if r < 0.0 else r
        return out

    @nb.njit(parallel=True)
    def zero_lag(phases, omegas, knm, zeta, psi):
        n = phases.size
        sn, cs, out = np.empty(n), np.empty(n), np.empty(n)
        for j in nb.prange(n):
            sn[j] = math.sin(phases[j])
            cs[j] = math.cos(phases[j])
        for i in nb.prange(n):
            a = 0.0
            b = 0.0
            for j in range(n):
                a += knm[i, j] * sn[j]
                b += knm[i, j] * cs[j]
            x = phases[i] + DT * (omegas[i] + a * cs[i] - b * sn[i] + zeta * math.sin(psi - phases[i]))
            r = np.fmod(x, TWO_PI)
            out[i] = r + TWO_PI if r < 0.0 else r
        return out

    return general, zero_lag


def numba_case(n, lags, kernels):
    """The Numba peer's step on network(n, lags), compiled and checked against ours; None without Numba."""
    general, zero_lag = kernels
    if general is None:
        return None
    phases, omegas, knm, zeta, psi, alpha = network(n, lags)
    k2, a2 = knm.reshape(n, n), alpha.reshape(n, n)
    fn = (lambda: general(phases, omegas, k2, zeta, psi, a2)) if lags else (lambda: zero_lag(phases, omegas, k2,
                                                                                            zeta, psi))
    ours = qk.PyUPDEStepper(n, dt=DT).step(phases, omegas, knm, zeta, psi, alpha)
    diff = np.abs((fn() - ours + math.pi) % TWO_PI - math.pi).max()
    assert diff < 1e-9, diff
    return fn


SIN_FLOOR_C = r"""
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
int main(void) {
    enum { N = 1 << 16, REPS = 200 };
    static double x[N];
    srand(1);
    for (int i = 0; i < N; ++i) x[i] = 15.0 * rand() / RAND_MAX - 7.5;  /* the range of the general path's arguments */
    double best = 1e30, acc = 0.0;
    for (int trial = 0; trial < 7; ++trial) {
        struct timespec a, b;
        clock_gettime(CLOCK_MONOTONIC, &a);
        for (int r = 0; r < REPS; ++r)
            for (int i = 0; i < N; ++i) acc += sin(x[i] + r * 1e-9);
        clock_gettime(CLOCK_MONOTONIC, &b);
        double t = (b.tv_sec - a.tv_sec) + 1e-9 * (b.tv_nsec - a.tv_nsec);
        if (t < best) best = t;
    }
    printf("%.6e %g\n", best / ((double)N * REPS), acc);
    return 0;
}
"""


def sin_call_time():
    """Seconds per call of glibc's sin on one core, from a small C program (best of several runs); None when no C
    compiler is at hand."""
    cc = shutil.which("cc") or shutil.which("gcc")
    if cc is None:
        return None
    with tempfile.TemporaryDirectory() as d:
        src, exe = os.path.join(d, "sin.c"), os.path.join(d, "sin")
        with open(src, "w") as f:
            f.write(SIN_FLOOR_C)
        subprocess.run([cc, "-O2", "-fno-builtin", src, "-o", exe, "-lm"], check=True)
        return float(subprocess.run([exe], capture_output=True, text=True, check=True).stdout.split()[0])


def euler_cases(n, lags, reference):
    args = network(n, lags)
    stepper = qk.PyUPDEStepper(n, dt=DT)
    return (lambda: stepper.step(*args)), (lambda: reference(n, *args))


def pinned_run(mode, *extra):
    """Runs this script pinned to one CPU; returns its stdout."""
    env = dict(os.environ, OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1")
    out = subprocess.run([sys.executable, __file__, mode, *extra], env=env, capture_output=True, text=True,
                         check=True)
    return out.stdout


def pin_self():
    os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})


def one_worker_main():
    pin_self()
    header("one worker (pinned to one CPU)")
    ours, ref = euler_cases(1024, True, np_euler_pairwise)
    compare("n=1024 general path, Euler step, one worker", ours, ref, 1)
    ours, ref = euler_cases(1024, False, np_euler_matvec)
    compare("n=1024 fast path, Euler step vs K@sin, K@cos (1 CPU)", ours, ref)
    sys.stdout.flush()


def one_worker_time(n, lags=True):
    pin_self()
    ours, _ = euler_cases(n, lags, np_euler_pairwise)
    print(json.dumps(best_time(ours, repeat=3)))


def peer_main():
    """Ours against NumPy (or BLAS) and the Numba peer, and the general path against the sin floor."""
    kernels = numba_steps()
    print(f"\n## dense UPDE, Euler step: ours, NumPy/BLAS and Numba parallel; ratio = their time / ours "
          f"(cores available: {cores()}{'' if kernels[0] else ', numba not installed'})")
    ours, ref = euler_cases(16, False, np_euler_pairwise)
    compare_peers("n=16 zero lags", ours, {"NumPy pairwise": ref, "Numba": numba_case(16, False, kernels)},
                  {"NumPy pairwise": 20})
    for n in (256, 1024, 4096):
        ours, ref = euler_cases(n, True, np_euler_pairwise)
        compare_peers(f"n={n} general path", ours, {"NumPy pairwise": ref, "Numba": numba_case(n, True, kernels)},
                      {"Numba": 1.1}, repeat=3)
    for n in (1024, 4096):
        ours, ref = euler_cases(n, False, np_euler_matvec)
        compare_peers(f"n={n} zero lags", ours, {"NumPy 2 gemv": ref, "Numba": numba_case(n, False, kernels)},
                      {"NumPy 2 gemv": 1.0, "Numba": 1.2})

    n = 4096
    t_sin = sin_call_time()
    if t_sin is not None:
        ours, _ = euler_cases(n, True, np_euler_pairwise)
        t = best_time(ours, repeat=3)
        floor = n * n * t_sin / cores()
        print(f"{'n=4096 general path vs the glibc sin floor':44s} ours {fmt(t).strip()}, sin {t_sin * 1e9:.1f} ns "
              f"a call, floor n*n*t_sin/{cores()} = {fmt(floor).strip()}: {t / floor:.2f}x the floor "
              f"(<= 1.3 {'ok' if t / floor <= 1.3 else 'MISSED'})")
    ours, _ = euler_cases(n, False, np_euler_matvec)
    t_pool = best_time(ours, repeat=3)
    t_one = json.loads(pinned_run("--one-worker-time", str(n), "0"))
    eff = t_one / t_pool
    print(f"{'n=4096 zero lags, pool vs one worker':44s} {fmt(t_pool).strip()} vs {fmt(t_one).strip()}: "
          f"{eff:.2f}x on {cores()} cores (>= {0.7 * cores():g} {'ok' if eff >= 0.7 * cores() else 'MISSED'})")


def rk45_case():
    """n = 64, rtol = 1e-6 over about t = 10, against solve_ivp(RK45)."""
    from scipy.integrate import solve_ivp

    n, dt, atol, rtol = 64, 0.05, 1e-8, 1e-6
    phases, omegas, knm, _, psi, alpha = network(n, False, seed=3)
    knm = knm * 4.0
    zeta = 0.0  # the drive would pull the clock below as well

    # The dense class does not report the time an adaptive step covers: find
    # it with one extra uncoupled oscillator of frequency 1 (a clock). Its
    # error ratio is rounding-sized, so the others step exactly as without it.
    m = n + 1
    k_clock = np.zeros((m, m))
    k_clock[:n, :n] = knm.reshape(n, n)
    clock = qk.PyUPDEStepper(m, dt=dt, method="rk45", atol=atol, rtol=rtol)
    y = np.r_[phases, 0.0]
    w = np.r_[omegas, 1.0]
    t, steps = 0.0, 0
    while t < 10.0:
        before = y[-1]
        y = clock.step(y, w, k_clock.ravel(), zeta, psi, np.zeros(m * m))
        t += (y[-1] - before) % TWO_PI
        steps += 1

    def ours():
        s = qk.PyUPDEStepper(n, dt=dt, method="rk45", atol=atol, rtol=rtol)
        return s.run(phases, omegas, knm, zeta, psi, alpha, steps)

    k = knm.reshape(n, n)

    def rhs(_t, th):
        s, c = np.sin(th), np.cos(th)
        return omegas + (k @ s) * c - (k @ c) * s + zeta * np.sin(psi - th)

    def reference():
        return solve_ivp(rhs, (0.0, t), phases, method="RK45", atol=atol, rtol=rtol).y[:, -1]

    final = ours()
    assert final.tobytes() == y[:n].tobytes()
    compare(f"RK45 run n=64 to t={t:.3f} ({steps} steps) vs solve_ivp", ours, reference, 30)
    sol = solve_ivp(rhs, (0.0, t), phases, method="RK45", atol=atol, rtol=rtol)
    exact = solve_ivp(rhs, (0.0, t), phases, method="DOP853", atol=1e-13, rtol=1e-13).y[:, -1]

    def error(v):
        return float(np.abs((v - exact + math.pi) % TWO_PI - math.pi).max())

    bound = atol + rtol * float(np.abs(exact).max())
    print(f"    solve_ivp: {sol.t.size - 1} steps, {sol.nfev} evaluations; final max error against DOP853 "
          f"at 1e-13: ours {error(final):.1e}, solve_ivp {error(sol.y[:, -1]):.1e}, "
          f"atol + rtol |y| = {bound:.1e} {'ok' if error(final) <= bound else 'MISSED'}")


def main():
    header("dense UPDE stepper")
    ours, ref = euler_cases(16, False, np_euler_pairwise)
    compare("n=16 zero lags, Euler step vs NumPy pairwise step", ours, ref, 20)
    ours, ref = euler_cases(16, False, np_euler_matvec)
    compare("n=16 zero lags, Euler step vs NumPy K@sin, K@cos step", ours, ref, 20)
    ours, ref = euler_cases(16, True, np_euler_pairwise)
    compare("n=16 lags, Euler step vs NumPy pairwise step", ours, ref, 20)
    ours, ref = euler_cases(1024, True, np_euler_pairwise)
    compare("n=1024 general path, Euler step, pool", ours, ref, 4)
    ours, ref = euler_cases(1024, False, np_euler_matvec)
    compare("n=1024 fast path, Euler step vs K@sin, K@cos", ours, ref, 1)
    sys.stdout.write(pinned_run("--one-worker"))

    n = 4096
    ours, _ = euler_cases(n, True, np_euler_pairwise)
    t_pool = best_time(ours, repeat=3)
    t_one = json.loads(pinned_run("--one-worker-time", str(n)))
    speedup = t_one / t_pool
    target = 0.75 * cores()
    print(f"{'n=4096 general path, pool vs one worker':52s} {fmt(t_pool):>11s} {fmt(t_one):>11s} "
          f"{speedup:8.2f}x  >= {target:g}x {'ok' if speedup >= target else 'MISSED'}")

    rk45_case()


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--one-worker":
        one_worker_main()
    elif len(sys.argv) > 1 and sys.argv[1] == "--one-worker-time":
        one_worker_time(int(sys.argv[2]), len(sys.argv) < 4 or sys.argv[3] != "0")
    elif len(sys.argv) > 1 and sys.argv[1] == "--peers":
        peer_main()
    else:
        main()
        peer_main()
