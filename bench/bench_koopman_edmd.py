"""Koopman EDMD against NumPy's normal equations, with BLAS on one thread and on all threads (the faster of the
two is the reference).

    env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE python3 bench/bench_koopman_edmd.py

(Those two variables, where set, hold a current OpenBLAS to an older, slower kernel.)
"""
import os

import numpy as np
from threadpoolctl import threadpool_info, threadpool_limits

import qel_kernel as qk
from harness import best_time, compare, fmt, header


def np_edmd(x, u, y, s, reg):
    z = np.hstack([x, u])
    sol = np.linalg.solve(z.T @ z + reg * np.eye(z.shape[1]), z.T @ y)
    w = np.linalg.solve(x.T @ x + reg * np.eye(x.shape[1]), x.T @ s)
    n = x.shape[1]
    return sol[:n].T.ravel(), sol[n:].T.ravel(), w.T.ravel()


def blas_peer(fn):
    """The faster of fn with BLAS on one thread and on all threads, as a callable; prints both times."""
    def one():
        with threadpool_limits(limits=1, user_api="blas"):
            return fn()
    t_one, t_all = best_time(one), best_time(fn)
    print(f"{'  NumPy/BLAS one thread, all threads':52s} {fmt(t_one):>11s} {fmt(t_all):>11s}")
    return one if t_one <= t_all else fn


def case(k, n, m, ns, target, seed=0):
    rng = np.random.default_rng(seed)
    x, u, y, s = (rng.normal(size=(k, c)) for c in (n, m, n, ns))
    flat = [a.ravel() for a in (x, u, y, s)]
    for got, want in zip(qk.koopman_edmd_solve_rust(*flat, k, n, m, ns, 1e-3), np_edmd(x, u, y, s, 1e-3)):
        np.testing.assert_allclose(got, want, rtol=1e-8, atol=1e-12)
    peer = blas_peer(lambda: np_edmd(x, u, y, s, 1e-3))
    compare(f"koopman_edmd_solve_rust k={k} p={n + m} n_state={ns}",
            lambda: qk.koopman_edmd_solve_rust(*flat, k, n, m, ns, 1e-3), peer, target)


def main():
    blas = [(i["internal_api"], i.get("architecture"), i["num_threads"]) for i in threadpool_info()
            if i["user_api"] == "blas"]
    header(f"Koopman EDMD vs NumPy/BLAS {blas}, load {os.getloadavg()[0]:.1f}")
    case(5000, 32, 4, 6, 0.5)
    case(20000, 200, 10, 8, 1.0)


if __name__ == "__main__":
    main()
