"""The symmetric eigen-solver where it does the work: the Fiedler value and vector of a dense n = 2048 network, and
the Hodge decomposition (two dense pseudo-inverses), against SciPy/NumPy doing the same route. Each peer runs with
its BLAS on one thread and on all threads (threadpoolctl); the faster of the two is the peer. Ours runs on one
thread whatever the machine has.

Run with OPENBLAS_CORETYPE and OPENBLAS_L2_SIZE unset (they slow NumPy's own OpenBLAS):
    env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE PYTHONPATH=build/dev .venv/bin/python bench/bench_eigen.py [--long]
--long also times the largest calls the guide quotes (Fiedler vector n = 4000, Hodge n = 3000).
"""
import itertools
import os
import sys
import time

import numpy as np
import scipy.linalg

import qel_kernel as qk
from harness import best_time, compare_peers, fmt, header, laplacian

try:
    from threadpoolctl import threadpool_info, threadpool_limits
except ImportError:
    threadpool_info = threadpool_limits = None


def faster_of_thread_counts(fn):
    """fn timed with BLAS on one thread and on all; returns the faster as a peer, with its thread count in the
    label."""
    if threadpool_limits is None:
        return {"peer (default threads)": fn}
    times = {}
    for limit in (1, None):
        with threadpool_limits(limits=limit):
            times[limit] = best_time(fn, repeat=2)
    limit = min(times, key=times.get)
    print(f"{'':52s} (peer: 1 thread {fmt(times[1]).strip()}, all threads {fmt(times[None]).strip()})")

    def peer():
        with threadpool_limits(limits=limit):
            return fn()

    return {f"peer ({'1 thread' if limit == 1 else 'all threads'})": peer}


def spectral(n):
    knm = np.random.default_rng(0).uniform(0.0, 1.0, n * n)
    header(f"Fiedler value and vector, dense n = {n}")
    compare_peers("fiedler_value_rust vs eigh(eigvals_only, subset 1)", lambda: qk.fiedler_value_rust(knm, n),
                  faster_of_thread_counts(lambda: scipy.linalg.eigh(laplacian(knm, n), eigvals_only=True,
                                                                    subset_by_index=[1, 1])[0]),
                  targets={"peer (1 thread)": 1.0, "peer (all threads)": 1.0}, repeat=3)
    compare_peers("fiedler_value_rust vs eigvalsh (all)", lambda: qk.fiedler_value_rust(knm, n),
                  faster_of_thread_counts(lambda: scipy.linalg.eigh(laplacian(knm, n), eigvals_only=True)[1]),
                  repeat=3)
    compare_peers("fiedler_vector_rust vs eigh(subset 1)", lambda: qk.fiedler_vector_rust(knm, n),
                  faster_of_thread_counts(lambda: scipy.linalg.eigh(laplacian(knm, n), subset_by_index=[1, 1])[1]),
                  targets={"peer (1 thread)": 1.0, "peer (all threads)": 1.0}, repeat=3)


def pinv_apply(a, b):
    w, v = np.linalg.eigh(a)
    tol = 1e-9 * w[-1] if w[-1] > 0 else 0.0
    inv = np.where(w > tol, 1.0 / np.where(w > tol, w, 1.0), 0.0)
    return v @ (inv * (v.T @ b))


def incidence(n, edges, tris):
    b1 = np.zeros((n, len(edges)))
    b1[edges[:, 0], np.arange(len(edges))] = -1.0
    b1[edges[:, 1], np.arange(len(edges))] = 1.0
    index = {(int(s), int(d)): e for e, (s, d) in enumerate(edges)}
    b2 = np.zeros((len(edges), len(tris)))
    for t, (a, b, c) in enumerate(tris):
        b2[index[(a, b)], t] += 1.0
        b2[index[(b, c)], t] += 1.0
        b2[index[(a, c)], t] -= 1.0
    return b1, b2


def flows(knm, phases, n, edges):
    k = knm.reshape(n, n)
    s, d = edges[:, 0], edges[:, 1]
    return (k[s, d] + k[d, s]) * 0.5 * np.sin(phases[d] - phases[s])


def numpy_route(knm, phases, n, edges, tris):
    """The same route: flows, eigh of L0 and L2, the same cut-off pseudo-inverse, the three n x n results."""
    b1, b2 = incidence(n, edges, tris)
    f = flows(knm, phases, n, edges)
    g = b1.T @ pinv_apply(b1 @ b1.T, b1 @ f)
    c = b2 @ pinv_apply(b2.T @ b2, b2.T @ f)
    return as_matrices(n, edges, g, c, f - g - c)


def lstsq_route(knm, phases, n, edges, tris):
    """Least squares on the incidence matrices instead of pseudo-inverses of the Laplacians."""
    b1, b2 = incidence(n, edges, tris)
    f = flows(knm, phases, n, edges)
    g = b1.T @ np.linalg.lstsq(b1.T, f, rcond=None)[0]
    c = b2 @ np.linalg.lstsq(b2, f, rcond=None)[0]
    return as_matrices(n, edges, g, c, f - g - c)


def as_matrices(n, edges, *parts):
    out = []
    for p in parts:
        m = np.zeros((n, n))
        m[edges[:, 0], edges[:, 1]] = p
        m[edges[:, 1], edges[:, 0]] = -p
        out.append(m.ravel())
    return out


def complex_of(n, p, seed):
    rng = np.random.default_rng(seed)
    pairs = [q for q in itertools.combinations(range(n), 2) if rng.uniform() < p]
    have = set(pairs)
    tris = [t for t in itertools.combinations(range(n), 3) if {t[:2], t[1:], t[::2]} <= have]
    return (rng.uniform(0.2, 2.0, n * n), rng.uniform(0.0, 2 * np.pi, n), np.array(pairs, dtype=np.int64),
            np.array(tris, dtype=np.int64).reshape(-1, 3))


def hodge(n, p, seed):
    knm, phases, edges, tris = complex_of(n, p, seed)
    e, t = edges.ravel(), tris.ravel()
    ours = lambda: qk.hodge_decomposition_rust(knm, phases, n, e, len(edges), t, len(tris))  # noqa: E731
    worst = max(np.abs(a - b).max() for a, b in zip(ours(), numpy_route(knm, phases, n, edges, tris)))
    header(f"Hodge decomposition, n = {n}, {len(edges)} edges, {len(tris)} triangles (max |ours - numpy| "
           f"{worst:.1e})")
    compare_peers("hodge_decomposition_rust vs numpy, same route", ours,
                  faster_of_thread_counts(lambda: numpy_route(knm, phases, n, edges, tris)),
                  targets={"peer (1 thread)": 1.0, "peer (all threads)": 1.0}, repeat=3)
    compare_peers("hodge_decomposition_rust vs numpy lstsq route", ours,
                  faster_of_thread_counts(lambda: lstsq_route(knm, phases, n, edges, tris)), repeat=3)


def once(label, fn):
    best = min(timed(fn) for _ in range(2))
    print(f"{label:52s} {fmt(best):>11s}  (best of 2, one call)")


def timed(fn):
    start = time.perf_counter()
    fn()
    return time.perf_counter() - start


def long_calls():
    header("the longest uninterruptible solves the guide quotes")
    n = 4000
    knm = np.random.default_rng(1).uniform(0.0, 1.0, n * n)
    once(f"fiedler_vector_rust, dense n = {n}", lambda: qk.fiedler_vector_rust(knm, n))
    once(f"fiedler_value_rust, dense n = {n}", lambda: qk.fiedler_value_rust(knm, n))
    n = 3000  # a ring with second neighbours: 2n edges, n triangles (i, i+1, i+2)
    edges = np.array([(i, (i + k) % n) for i in range(n) for k in (1, 2)], dtype=np.int64)
    tris = np.array([(i, (i + 1) % n, (i + 2) % n) for i in range(n)], dtype=np.int64)
    rng = np.random.default_rng(2)
    knm, phases = rng.uniform(0.2, 2.0, n * n), rng.uniform(0.0, 2 * np.pi, n)
    once(f"hodge_decomposition_rust, n = {n}, {len(edges)} edges, {len(tris)} triangles",
         lambda: qk.hodge_decomposition_rust(knm, phases, n, edges.ravel(), len(edges), tris.ravel(), len(tris)))


def main():
    print(f"load average {os.getloadavg()}; OPENBLAS_CORETYPE={os.environ.get('OPENBLAS_CORETYPE')}")
    if threadpool_info is not None:
        for pool in threadpool_info():
            print(f"peer BLAS: {pool.get('internal_api')} {pool.get('version')} {pool.get('architecture')} "
                  f"threads {pool.get('num_threads')}")
    spectral(2048)
    hodge(40, 0.468, 3)
    hodge(56, 0.45, 6)
    if "--long" in sys.argv:
        long_calls()
    print(f"load average {os.getloadavg()}")


if __name__ == "__main__":
    main()
