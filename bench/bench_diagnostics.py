"""Lyapunov spectrum, recurrence matrices, recurrence quantification and transfer entropy against the
NumPy/SciPy code a user would write instead, and against our own calls on one worker.

One-worker figures come from a copy of this script pinned to one CPU (the pool follows the affinity
mask); peak memory of the large recurrence matrix from a fresh process.

    python3 bench/bench_diagnostics.py            (everything)
    python3 bench/bench_diagnostics.py parallel   (only the one-worker comparisons)
    python3 bench/bench_diagnostics.py lyapunov   (only the Lyapunov spectra)

For the NumPy references unset OPENBLAS_CORETYPE and OPENBLAS_L2_SIZE in that command, where they are set: they
hold a current OpenBLAS to an older, slower kernel.
"""
import json
import math
import os
import subprocess
import sys

import numpy as np
from scipy.spatial.distance import cdist
from threadpoolctl import threadpool_limits

import qel_kernel as qk
from harness import best_time, compare, cores, fmt, header, numba

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from reference import lyapunov as ly_ref  # noqa: E402
from reference import recurrence as rec_ref  # noqa: E402
from reference import transfer_entropy as te_ref  # noqa: E402

TWO_PI = 6.283185307179586


def trajectory(t, d, seed=0):
    rng = np.random.default_rng(seed)
    s = np.arange(t) * 0.05
    return (np.sin(s[:, None] * (1.0 + np.arange(d))) + 0.1 * rng.normal(size=(t, d))).ravel()


def network(n, seed=0):
    rng = np.random.default_rng(seed)
    knm = rng.uniform(0.0, 2.0 / n, n * n)
    knm[:: n + 1] = 0.0
    return rng.uniform(0.0, TWO_PI, n), rng.normal(0.0, 1.0, n), knm, rng.uniform(-0.3, 0.3, n * n)


def phases(n_osc, n_time, seed=0):
    rng = np.random.default_rng(seed)
    return np.cumsum(rng.normal(0.1, 0.5, (n_osc, n_time)), axis=1).ravel()


def angular_numpy(a, b, t, d, eps, block=500):
    x, y = a.reshape(t, d), b.reshape(t, d)
    out = np.empty((t, t), dtype=np.uint8)
    for i in range(0, t, block):
        s = np.sin((x[i:i + block, None, :] - y[None, :, :]) * 0.5)
        out[i:i + block] = ((s * 4.0 * s).sum(axis=2) <= eps * eps)
    return out.ravel()


# Cases timed both on all CPUs and pinned to one: name -> call.
def numba_rqa_histograms():
    """The Numba peer of rqa_rust: prange over bands of 256 diagonals or columns, each band walked row by row
    with a run counter per line and a histogram of its own, the histograms summed. None without numba."""
    nb = numba()
    if nb is None:
        return None
    band = 256

    @nb.njit(parallel=True)
    def histograms(m, t, skip):
        nd, nc = (2 * t - 1 + band - 1) // band, (t + band - 1) // band
        hd = np.zeros((nd, t + 1), np.int64)
        hv = np.zeros((nc, t + 1), np.int64)
        n_rec = np.zeros(nc, np.int64)
        for b in nb.prange(nd + nc):
            if b < nd:
                q0 = b * band
                q1 = min(2 * t - 1, q0 + band)
                run = np.zeros(q1 - q0, np.int64)
                for i in range(t):
                    for j in range(max(0, i + q0 - (t - 1)), min(t, i + q1 - (t - 1))):
                        if skip and j == i:
                            continue
                        r = j - i + t - 1 - q0
                        if m[i * t + j] != 0:
                            run[r] += 1
                        else:
                            hd[b, run[r]] += 1
                            run[r] = 0
                for q in range(q0, q1):
                    if not (skip and q == t - 1):
                        hd[b, run[q - q0]] += 1
            else:
                c = b - nd
                j0 = c * band
                j1 = min(t, j0 + band)
                run = np.zeros(j1 - j0, np.int64)
                for i in range(t):
                    for j in range(j0, j1):
                        if m[i * t + j] != 0 and not (skip and j == i):
                            run[j - j0] += 1
                            n_rec[c] += 1
                        else:
                            hv[c, run[j - j0]] += 1
                            run[j - j0] = 0
                for j in range(j0, j1):
                    hv[c, run[j - j0]] += 1
        return hd.sum(0), hv.sum(0), n_rec.sum()

    def rqa(flat, t, l_min=2, v_min=2, exclude=True):
        hd, hv, n_rec = histograms(flat, t, exclude)
        n_rec = int(n_rec)
        rr = n_rec / (t * t - (t if exclude else 0))
        lens = np.arange(t + 1)
        out = [rr]
        for h, lo, entropy in ((hd, l_min, True), (hv, v_min, False)):
            keep = (lens >= lo) & (h > 0)
            count, total = int(h[keep].sum()), int((h[keep] * lens[keep]).sum())
            if count == 0:
                out += [0.0, 0.0, 0] + ([0.0] if entropy else [])
                continue
            out += [total / n_rec if n_rec else 0.0, total / count, int(lens[keep].max())]
            if entropy:
                ent = -0.0
                for c in h[keep].tolist():
                    ent = ent - math.log(c / count) * (c / count)
                out.append(float(ent))
        return tuple(out)

    return rqa


def parallel_cases():
    x = trajectory(8000, 3)
    y = trajectory(8000, 3, seed=1)
    series = phases(64, 5000)
    net = network(256)
    return {
        "cross_recurrence T=8000 d=3": lambda: qk.cross_recurrence_matrix_rust(x, y, 8000, 3, 0.3),
        "transfer_entropy_matrix 64 osc x 5000, 8 bins": lambda: qk.transfer_entropy_matrix_rust(series, 64, 5000, 8),
        "lyapunov N=256, 100 steps, qr_interval=50": lambda: qk.lyapunov_spectrum_rust(*net, 0.01, 100, 50, 0.2, 0.0),
    }


def blas_peer(fn):
    """The faster of fn with BLAS on one thread and on all threads, as a callable; prints both times."""
    def one():
        with threadpool_limits(limits=1, user_api="blas"):
            return fn()
    t_one, t_all = best_time(one, repeat=3), best_time(fn, repeat=3)
    print(f"{'  NumPy/BLAS one thread, all threads':52s} {fmt(t_one):>11s} {fmt(t_all):>11s}")
    return one if t_one <= t_all else fn


def seconds_per_dependent_add():
    """Seconds per add of one running sum of products (each add waits for the one before), timed as a Numba loop
    without fast-math; None without Numba."""
    nb = numba()
    if nb is None:
        return None

    @nb.njit
    def chain(a, b):
        s = 0.0
        for i in range(a.size):
            s = s + a[i] * b[i]
        return s
    a = np.random.default_rng(0).uniform(size=1 << 16)
    chain(a, a)
    return best_time(lambda: chain(a, a)) / a.size


def gram_schmidt_bound(n, steps, qr, peer):
    """Each orthonormalisation is a chain of about n^3 / 2 dependent adds: column k is projected on columns
    0 .. k-1 one after another, each projection a sum over n rows in order that needs the column the previous one
    left. No split over cores shortens that chain. Prints the floor it sets for a run (with zeta = 0 there is one
    more at the start) beside the time each orthonormalisation takes us, and the largest ratio it leaves."""
    t_add = seconds_per_dependent_add()
    net = network(n)
    net = (*net[:3], np.zeros_like(net[3]))
    t_none = best_time(lambda: qk.lyapunov_spectrum_rust(*net, 0.01, 10, 100), repeat=3)
    t_each = best_time(lambda: qk.lyapunov_spectrum_rust(*net, 0.01, 10, 1), repeat=3)
    ours_per_qr = (t_each - t_none) / 10
    count = 1 + steps // qr
    line = f"  N={n}: one orthonormalisation takes us {fmt(ours_per_qr).strip()}"
    if t_add is not None:
        floor = count * n ** 3 / 2 * t_add
        line += (f"; chain floor {fmt(n ** 3 / 2 * t_add).strip()} ({t_add * 1e9:.2f} ns per dependent add), "
                 f"x{count} = {fmt(floor).strip()} per run: ratio <= {peer / floor:.2f} against a peer of "
                 f"{fmt(peer).strip()}")
    print(line)


def lyapunov_main():
    header(f"Lyapunov spectrum (load {os.getloadavg()[0]:.1f})")
    net = network(16)
    compare("lyapunov N=16, 2000 steps vs NumPy replica", lambda: qk.lyapunov_spectrum_rust(*net, 0.01, 2000, 10),
            lambda: ly_ref.spectrum_numpy(*net, 0.01, 2000, 10), 5, repeat=3)
    net = network(128)
    compare("lyapunov N=128, 200 steps vs NumPy replica",
            lambda: qk.lyapunov_spectrum_rust(*net, 0.01, 200, 10),
            blas_peer(lambda: ly_ref.spectrum_numpy(*net, 0.01, 200, 10)), 1, repeat=3)
    for lags in (True, False):
        ph, om, knm, alpha = network(512)
        net = (ph, om, knm, alpha if lags else np.zeros_like(alpha))
        peer = blas_peer(lambda: ly_ref.spectrum_numpy(*net, 0.01, 20, 10))
        compare(f"lyapunov N=512{' lags' if lags else ''}, 20 steps vs NumPy replica",
                lambda: qk.lyapunov_spectrum_rust(*net, 0.01, 20, 10), peer, 1, repeat=3)
    gram_schmidt_bound(512, 20, 10, best_time(peer, repeat=3))


def one_worker_main():
    os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
    print(json.dumps({name: best_time(fn, repeat=3) for name, fn in parallel_cases().items()}))


def status_kib(field):
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith(field + ":"))


def peak_memory_main(t):
    x = trajectory(t, 3)
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # restart the peak-RSS count here
    before = status_kib("VmRSS")
    m = qk.recurrence_matrix_rust(x, t, 3, 0.3)
    print(json.dumps({"growth": (status_kib("VmHWM") - before) * 1024, "bytes": m.nbytes}))


def run_self(*args):
    env = dict(os.environ, OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1")
    out = subprocess.run([sys.executable, __file__, *args], env=env, capture_output=True, text=True, check=True)
    return json.loads(out.stdout)


def speed_up_over_one_worker():
    header(f"speed-up over one worker (target 0.75 x {cores()} cores = {0.75 * cores():g})")
    one = run_self("one")
    for name, fn in parallel_cases().items():
        t_all = best_time(fn, repeat=3)
        ratio = one[name] / t_all
        print(f"{name:52s} {fmt(t_all):>11s} {fmt(one[name]):>11s} {ratio:8.2f}x  "
              f">= {0.75 * cores():g}x {'ok' if ratio >= 0.75 * cores() else 'MISSED'}")


def main():
    header("recurrence matrices")
    x = trajectory(4000, 3)
    xs = x.reshape(4000, 3)
    compare("recurrence_matrix T=4000 d=3 vs cdist <= eps^2", lambda: qk.recurrence_matrix_rust(x, 4000, 3, 0.3),
            lambda: (cdist(xs, xs, "sqeuclidean") <= 0.09).astype(np.uint8), 4)
    a, b = trajectory(8000, 2) * 3.0, trajectory(8000, 2, seed=1) * 3.0
    compare("cross_recurrence angular T=8000 d=2 vs NumPy broadcasting",
            lambda: qk.cross_recurrence_matrix_rust(a, b, 8000, 2, 0.5, True),
            lambda: angular_numpy(a, b, 8000, 2, 0.5), 8)
    mem = run_self("memory", "20000")
    print(f"recurrence_matrix T=20000: peak RSS growth {mem['growth'] / mem['bytes']:.3f} x T^2 bytes "
          f"(limit 1.1) {'ok' if mem['growth'] <= 1.1 * mem['bytes'] else 'MISSED'}")

    header("recurrence quantification")
    t = 2000
    flat = qk.recurrence_matrix_rust(trajectory(t, 3), t, 3, 0.3)
    assert qk.rqa_rust(flat, t) == rec_ref.rqa(flat, t)
    compare("rqa_rust T=2000 vs NumPy run-lengths", lambda: qk.rqa_rust(flat, t), lambda: rec_ref.rqa(flat, t), 5)
    nb_rqa = numba_rqa_histograms()
    if nb_rqa is None:
        print("rqa_rust T=8000 vs Numba: numba not installed")
    else:
        t = 8000
        flat = qk.recurrence_matrix_rust(trajectory(t, 3), t, 3, 0.3)
        assert qk.rqa_rust(flat, t) == nb_rqa(flat, t)
        compare("rqa_rust T=8000 vs Numba bands (prange)", lambda: qk.rqa_rust(flat, t), lambda: nb_rqa(flat, t), 1)

    header("transfer entropy")
    series = phases(16, 5000)
    compare("transfer_entropy_matrix 16 osc x 5000, 8 bins vs bincount",
            lambda: qk.transfer_entropy_matrix_rust(series, 16, 5000, 8),
            lambda: te_ref.transfer_entropy_matrix_numpy(series, 16, 5000, 8), 10, repeat=3)

    lyapunov_main()
    speed_up_over_one_worker()


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "one":
        one_worker_main()
    elif len(sys.argv) > 1 and sys.argv[1] == "lyapunov":
        lyapunov_main()
    elif len(sys.argv) > 1 and sys.argv[1] == "parallel":
        speed_up_over_one_worker()
    elif len(sys.argv) > 2 and sys.argv[1] == "memory":
        peak_memory_main(int(sys.argv[2]))
    else:
        main()
