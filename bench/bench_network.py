"""Chimera detection, coupling estimation, Hodge decomposition and winding
numbers against NumPy doing the same work, and the parallel speed-ups of
chimera detection and coupling estimation over one worker.

`python bench_network.py` prints everything; `--one-worker CASE` is the pinned
subprocess that times one case on a single CPU.
"""
import json
import os
import subprocess
import sys

# One BLAS thread: the Hodge decomposition is sequential, so its reference must be too.
os.environ["OPENBLAS_NUM_THREADS"] = "1"
os.environ["OMP_NUM_THREADS"] = "1"
os.environ["MKL_NUM_THREADS"] = "1"

import numpy as np  # noqa: E402
import scipy.linalg  # noqa: E402

import qel_kernel as qk  # noqa: E402
from harness import best_time, compare, cores, fmt, header  # noqa: E402

TWO_PI = 2 * np.pi


def chimera_case(n=2000):
    rng = np.random.default_rng(0)
    return rng.uniform(0.0, TWO_PI, n), rng.uniform(0.1, 1.0, n * n), n


def numpy_chimera(phases, knm, n):
    mask = knm.reshape(n, n) > 0.0
    z = np.exp(1j * (phases[None, :] - phases[:, None]))
    count = mask.sum(axis=1)
    local = np.where(count > 0, np.abs(np.where(mask, z, 0.0).sum(axis=1) / np.maximum(count, 1)), 0.0)
    coherent, incoherent = np.flatnonzero(local > 0.7), np.flatnonzero(local < 0.3)
    return coherent.tolist(), incoherent.tolist(), (n - coherent.size - incoherent.size) / n, local


def coupling_case(n, t=4000, dt=0.01):
    rng = np.random.default_rng(1)
    phases = np.cumsum(rng.normal(0.05, 0.3, (n, t)), axis=1)
    return phases.ravel().copy(), rng.normal(1.0, 0.2, n), n, t, dt


def numpy_coupling(phases, omegas, n, t, dt):
    theta = phases.reshape(n, t)
    rates = ((np.diff(theta, axis=1) + np.pi) % TWO_PI - np.pi) / dt
    out = np.zeros((n, n))
    for i in range(n):
        s = np.sin(theta[:, :-1] - theta[i, :-1])
        y = rates[i] - omegas[i]
        others = np.arange(n) != i
        g = s @ s.T
        out[i, others] = np.linalg.solve(g[np.ix_(others, others)], (s @ y)[others])
    return out.ravel()


def hodge_case(n=200, n_edges=1000, n_tris=300):
    rng = np.random.default_rng(2)
    tris = set()
    while len(tris) < n_tris:
        tris.add(tuple(sorted(rng.choice(n, 3, replace=False).tolist())))
    tris = sorted(tris)
    edges = {(a, b) for t in tris for a, b in ((t[0], t[1]), (t[1], t[2]), (t[0], t[2]))}
    while len(edges) < n_edges:
        edges.add(tuple(sorted(rng.choice(n, 2, replace=False).tolist())))
    edges = sorted(edges)
    return (rng.uniform(0.1, 1.0, n * n), rng.uniform(0.0, TWO_PI, n), n,
            np.array(edges, dtype=np.int64).ravel(), len(edges), np.array(tris, dtype=np.int64).ravel(), len(tris))


def numpy_hodge(knm, phases, n, edges_flat, n_edges, tris_flat, n_tris, pinv_apply):
    s, d = edges_flat[0::2], edges_flat[1::2]
    k = knm.reshape(n, n)
    f = (k[s, d] + k[d, s]) * 0.5 * np.sin(phases[d] - phases[s])
    e = np.arange(n_edges)
    b1 = np.zeros((n, n_edges))
    np.add.at(b1, (s, e), -1.0)
    np.add.at(b1, (d, e), 1.0)
    g = b1.T @ pinv_apply(b1 @ b1.T, b1 @ f)
    index = {(a, b): i for i, (a, b) in enumerate(zip(s.tolist(), d.tolist()))}
    tri = tris_flat.reshape(n_tris, 3).tolist()
    b2 = np.zeros((n_edges, n_tris))
    for t, (a, b, c) in enumerate(tri):
        b2[index[(a, b)], t] += 1.0
        b2[index[(b, c)], t] += 1.0
        b2[index[(a, c)], t] -= 1.0
    c = b2 @ pinv_apply(b2.T @ b2, b2.T @ f)
    out = []
    for v in (g, c, f - g - c):
        m = np.zeros((n, n))
        m[s, d], m[d, s] = v, -v
        out.append(m.ravel())
    return out


def eigh_pinv_apply(a, b):
    w, v = scipy.linalg.eigh(a, driver="ev")
    tol = 1e-9 * w[-1] if w[-1] > 0 else 0.0
    keep = w > tol
    return v[:, keep] @ ((v[:, keep].T @ b) / w[keep])


def numpy_pinv_apply(a, b):
    return np.linalg.pinv(a, hermitian=True) @ b


def winding_case(t=2000, n=500):
    rng = np.random.default_rng(3)
    return np.cumsum(rng.normal(0.1, 0.5, (t, n)), axis=0).ravel(), n


def numpy_winding(history, n):
    d = np.diff(history.reshape(-1, n), axis=0)
    r = np.fmod(np.pi - d, TWO_PI)
    r = np.where(r < 0.0, r + TWO_PI, r)
    return np.floor((np.pi - r).sum(axis=0) / TWO_PI).astype(np.int64)


PARALLEL = {
    "chimera": lambda: (lambda a=chimera_case(): lambda: qk.detect_chimera_rust(*a))(),
    "coupling": lambda: (lambda a=coupling_case(64): lambda: qk.estimate_coupling_rust(*a))(),
}


def speed_up_over_one_worker(case, label):
    ours = best_time(PARALLEL[case](), repeat=3)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    one = json.loads(subprocess.run([sys.executable, __file__, "--one-worker", case], env=env, capture_output=True,
                                    text=True, check=True).stdout)
    target = 0.75 * cores()
    ratio = one / ours
    print(f"{label:52s} {fmt(ours):>11s} {fmt(one):>11s} {ratio:8.2f}x  >= {target:g}x "
          f"{'ok' if ratio >= target else 'MISSED'}")


def main():
    header("detect_chimera_rust, n = 2000, dense positive coupling")
    args = chimera_case()
    ours, theirs = qk.detect_chimera_rust(*args), numpy_chimera(*args)
    assert ours[:2] == theirs[:2] and np.abs(ours[3] - theirs[3]).max() < 1e-12
    compare("vs NumPy masked mean of exp(i(theta_j - theta_i))", lambda: qk.detect_chimera_rust(*args),
            lambda: numpy_chimera(*args), target=8)
    speed_up_over_one_worker("chimera", "all workers vs one pinned worker")

    header("estimate_coupling_rust, 4000 samples")
    args = coupling_case(40)
    assert np.abs(qk.estimate_coupling_rust(*args) - numpy_coupling(*args)).max() < 1e-8
    compare("40 oscillators vs NumPy per node (sin, S @ S.T, solve)", lambda: qk.estimate_coupling_rust(*args),
            lambda: numpy_coupling(*args), target=4)
    speed_up_over_one_worker("coupling", "64 oscillators, all workers vs one pinned worker")

    header("hodge_decomposition_rust, n = 200, 1000 edges, 300 triangles, one BLAS thread")
    args = hodge_case()
    ours = qk.hodge_decomposition_rust(*args)
    for a, b in zip(ours, numpy_hodge(*args, eigh_pinv_apply)):
        assert np.abs(a - b).max() < 1e-10
    compare("vs incidence matrices, eigh(driver='ev') pseudo-inverses", lambda: qk.hodge_decomposition_rust(*args),
            lambda: numpy_hodge(*args, eigh_pinv_apply), target=0.5)
    compare("vs incidence matrices, numpy.linalg.pinv", lambda: qk.hodge_decomposition_rust(*args),
            lambda: numpy_hodge(*args, numpy_pinv_apply))

    header("winding_numbers, 2000 steps of 500 oscillators")
    args = winding_case()
    assert np.array_equal(qk.winding_numbers(*args), numpy_winding(*args))
    compare("vs NumPy diff, fmod, sum, floor", lambda: qk.winding_numbers(*args), lambda: numpy_winding(*args),
            target=1.5)


if __name__ == "__main__":
    if sys.argv[1:2] == ["--one-worker"]:
        os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
        print(json.dumps(best_time(PARALLEL[sys.argv[2]](), repeat=3)))
    else:
        try:
            from threadpoolctl import threadpool_limits
        except ImportError:
            main()
        else:
            with threadpool_limits(limits=1):
                main()
