"""Market synchrony measures against NumPy, and the pool against one worker.

The NumPy phase-locking reference forms Z = exp(i theta) once and takes
|Zw^H Zw| / W per window; the order-parameter reference is
|mean(exp(i theta), axis=1)|. One-worker figures come from a copy of this
script pinned to one CPU (the pool follows the affinity mask).

    python3 bench/bench_market.py
"""
import json
import os
import resource
import subprocess
import sys

import numpy as np

import qel_kernel as qk
from harness import best_time, compare, cores, fmt, header

PLV_CASE = (2000, 32, 64)
ORDER_CASE = (200_000, 32)


def phases(t, n):
    return np.random.default_rng(0).uniform(0.0, 2 * np.pi, t * n)


def np_plv(x, t, n, w):
    z = np.exp(1j * x[: t * n]).reshape(t, n)
    out = np.empty((t - w + 1, n, n))
    for s in range(t - w + 1):
        zw = z[s:s + w]
        out[s] = np.abs(zw.conj().T @ zw) / w
    return out.ravel()


def np_order(x, t, n):
    return np.abs(np.exp(1j * x[: t * n]).reshape(t, n).mean(axis=1))


def cases():
    t, n, w = PLV_CASE
    xp = phases(t, n)
    tt, nn = ORDER_CASE
    xo = phases(tt, nn)
    return {
        "plv": (lambda: qk.market_plv_rust(xp, t, n, w), lambda: np_plv(xp, t, n, w)),
        "order": (lambda: qk.market_order_parameter_rust(xo, tt, nn), lambda: np_order(xo, tt, nn)),
    }


def one_worker_times():
    os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
    print(json.dumps({k: best_time(ours, repeat=5) for k, (ours, _) in cases().items()}))


def cpu_time(fn, calls=20):
    """Process CPU seconds per call, all threads: the work the pool spends."""
    fn()
    before = resource.getrusage(resource.RUSAGE_SELF)
    for _ in range(calls):
        fn()
    after = resource.getrusage(resource.RUSAGE_SELF)
    return (after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime) / calls


def main():
    t, n, w = PLV_CASE
    tt, nn = ORDER_CASE
    c = cases()
    header("market synchrony")
    compare(f"market_plv_rust T={t} N={n} W={w} vs NumPy", *c["plv"], target=3)
    compare(f"market_order_parameter_rust T={tt} N={nn} vs NumPy", *c["order"], target=5)

    env = dict(os.environ, OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1")
    one = json.loads(subprocess.run([sys.executable, __file__, "--one-worker"], env=env, capture_output=True,
                                    text=True, check=True).stdout)
    target = 0.75 * cores()
    for key, name in (("plv", "market_plv_rust"), ("order", "market_order_parameter_rust")):
        t_pool = best_time(c[key][0], repeat=5)
        speedup = one[key] / t_pool
        print(f"{name + ', pool vs one worker':52s} {fmt(t_pool):>11s} {fmt(one[key]):>11s} "
              f"{speedup:8.2f}x  >= {target:g}x {'ok' if speedup >= target else 'MISSED'}")
        # On a busy machine the pool gets fewer cores than it has workers; the
        # CPU time it spends per call shows what the split itself costs.
        cpu = cpu_time(c[key][0])
        print(f"    CPU time per pooled call {fmt(cpu)}, {cpu / one[key]:.2f} x the one-worker time")


if __name__ == "__main__":
    if sys.argv[1:] == ["--one-worker"]:
        one_worker_times()
    else:
        main()
