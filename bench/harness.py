"""Times one of our calls against a reference doing the same work, in one process.

    from harness import compare, header
    header("order parameters")
    compare("order_parameter n=16", lambda: qk.order_parameter(x), lambda: numpy_version(x), target=20)

`target` is the speed-up the call must reach (reference time / our time); the
line says whether it does. Timings are the best of several repeats of an
automatically sized loop, so a single slow run does not decide.
"""
import os
import sys
import timeit

import numpy as np

TWO_PI = 6.283185307179586
_results = []


def np_wrap(x):
    """Phases into [0, 2pi) as the steppers wrap them: fmod, plus 2pi for a negative remainder."""
    r = np.fmod(x, TWO_PI)
    return np.where(r < 0.0, r + TWO_PI, r)


def random_network(n, lags, seed=0):
    """A dense random network: phases, frequencies around 1, couplings of order 1/n, and lags (small, or all zero)."""
    rng = np.random.default_rng(seed)
    phases = rng.uniform(0.0, TWO_PI, n)
    omegas = rng.normal(1.0, 0.3, n)
    knm = rng.uniform(0.0, 2.0 / n, n * n)
    alpha = rng.uniform(-0.3, 0.3, n * n) if lags else np.zeros(n * n)
    return phases, omegas, knm, alpha


def laplacian(knm, n):
    """The dense graph Laplacian the spectral measures use: |K| symmetrised, zero diagonal, row sums on it."""
    k = np.abs(knm.reshape(n, n))
    w = (k + k.T) * 0.5
    np.fill_diagonal(w, 0.0)
    lap = -w
    lap[np.diag_indices(n)] = w.sum(axis=1)
    return lap


def cores():
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count()


def header(title):
    print(f"\n## {title}  (cores available: {cores()}, python {sys.version.split()[0]})")
    print(f"{'case':52s} {'ours':>11s} {'reference':>11s} {'speed-up':>9s}  target")


def best_time(fn, repeat=5, min_time=0.2):
    timer = timeit.Timer(fn)
    number, _ = timer.autorange()
    number = max(1, int(number * min_time / 0.2))
    return min(timer.repeat(repeat=repeat, number=number)) / number


def fmt(t):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6), ("ns", 1e-9)):
        if t >= scale:
            return f"{t / scale:7.2f} {unit:2s}"
    return f"{t / 1e-9:7.2f} ns"


def compare(name, ours, reference, target=None, repeat=5):
    """Prints our time, the reference's, and reference/ours; returns the ratio."""
    t_ours = best_time(ours, repeat)
    t_ref = best_time(reference, repeat)
    ratio = t_ref / t_ours
    verdict = ""
    if target is not None:
        verdict = f">= {target:g}x {'ok' if ratio >= target else 'MISSED'}"
    print(f"{name:52s} {fmt(t_ours):>11s} {fmt(t_ref):>11s} {ratio:8.2f}x  {verdict}")
    _results.append((name, t_ours, t_ref, ratio, target))
    return ratio


def results():
    return list(_results)


def pool_vs_one_worker(name, setup, stmt, target=None):
    """Times the code `stmt` after `setup` here and in a child pinned to one CPU (the pool follows the affinity
    mask); prints the pool's speed-up. `target` defaults to 0.75 times the cores available here."""
    import json
    import subprocess

    here = {}
    exec(setup, here)
    code = compile(stmt, "<stmt>", "exec")
    t_pool = best_time(lambda: exec(code, here), repeat=7)
    child = ("import os, json, sys\nos.sched_setaffinity(0, {min(os.sched_getaffinity(0))})\n"
             f"sys.path.insert(0, {os.path.dirname(os.path.abspath(__file__))!r})\nfrom harness import best_time\n"
             f"{setup}\ncode = compile({stmt!r}, '<stmt>', 'exec')\n"
             "print(json.dumps(best_time(lambda: exec(code, globals()), repeat=5)))\n")
    env = dict(os.environ, OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1",
               PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    out = subprocess.run([sys.executable, "-c", child], env=env, capture_output=True, text=True, check=True)
    t_one = json.loads(out.stdout)
    speedup = t_one / t_pool
    target = 0.75 * cores() if target is None else target
    print(f"{name:52s} {fmt(t_pool):>11s} {fmt(t_one):>11s} {speedup:8.2f}x  >= {target:g}x "
          f"{'ok' if speedup >= target else 'MISSED'}   (pool vs one worker)")
    return speedup

def numba():
    """The numba module when it is installed (only the benchmarks use it), else None."""
    try:
        import numba as nb
    except ImportError:
        return None
    return nb


def compare_peers(name, ours, peers, targets=None, repeat=5):
    """Our time, then each peer's time and its ratio (peer / ours), on one line; a peer of None is reported as
    missing. targets maps a peer's label to the ratio it must reach. Returns {label: ratio}."""
    targets = targets or {}
    t_ours = best_time(ours, repeat)
    parts, ratios = [], {}
    for label, fn in peers.items():
        if fn is None:
            parts.append(f"{label}: n/a")
            continue
        t = best_time(fn, repeat)
        ratios[label] = t / t_ours
        target = targets.get(label)
        verdict = "" if target is None else f" (>= {target:g} {'ok' if t / t_ours >= target else 'MISSED'})"
        parts.append(f"{label} {fmt(t).strip()} {t / t_ours:.2f}x{verdict}")
        _results.append((f"{name} vs {label}", t_ours, t, t / t_ours, target))
    print(f"{name:44s} ours {fmt(t_ours).strip():>9s} | " + " | ".join(parts))
    return ratios
