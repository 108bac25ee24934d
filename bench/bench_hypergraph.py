"""Hypergraph runs against a NumPy loop of the same steps (K@sin, K@cos, np.add.at for the hyperedges), a parallel
Numba loop of the same formula (prange over rows, the hyperedges after them), and the pool's speed-up over one worker.

    python3 bench/bench_hypergraph.py
"""
import math
import os

import numpy as np

import qel_kernel as qk
from harness import TWO_PI, compare, compare_peers, header, np_wrap, numba, pool_vs_one_worker

SETUP = """
import numpy as np, qel_kernel as qk
def network(n, lags, n_edges, seed=0):
    rng = np.random.default_rng(seed)
    phases = rng.uniform(0.0, 6.28, n)
    omegas = rng.normal(1.0, 0.3, n)
    knm = rng.uniform(0.0, 2.0 / n, n * n)
    alpha = rng.uniform(-0.3, 0.3, n * n) if lags else np.zeros(n * n)
    nodes = np.stack([rng.choice(n, 3, replace=False) for _ in range(n_edges)]).astype(np.int64)
    return phases, omegas, knm, alpha, nodes, rng.uniform(0.1, 0.5, n_edges)
def ours(net, steps, dt=0.01):
    phases, omegas, knm, alpha, nodes, strengths = net
    offsets = np.arange(0, 3 * len(strengths), 3, dtype=np.int64)
    return qk.hypergraph_run_rust(phases, omegas, len(phases), nodes.ravel(), offsets, strengths, knm, alpha,
                                  0.5, 1.0, dt, steps)
"""
exec(SETUP)


def numpy_run(net, steps, dt=0.01, zeta=0.5, psi=1.0):
    phases, omegas, knm, alpha, nodes, strengths = net
    n = len(phases)
    k = knm.reshape(n, n)
    flat = nodes.ravel()
    th = phases.copy()
    for _ in range(steps):
        s, c = np.sin(th), np.cos(th)
        d = omegas + (k @ s) * c - (k @ c) * s + zeta * np.sin(psi - th)
        total = th[nodes].sum(axis=1)
        np.add.at(d, flat, (strengths[:, None] * np.sin(total[:, None] - 3.0 * th[nodes])).ravel())
        th = np_wrap(th + dt * d)
    return th


def numba_run():
    """Euler steps of the zero-lag network with triangles as a parallel Numba loop, or None."""
    nb = numba()
    if nb is None:
        return None

    @nb.njit(parallel=True)
    def run(phases, omegas, knm, nodes, strengths, zeta, psi, dt, steps):
        n = phases.size
        th, sn, cs, d = phases.copy(), np.empty(n), np.empty(n), np.empty(n)
        for _ in range(steps):
            for j in nb.prange(n):
                sn[j] = math.sin(th[j])
                cs[j] = math.cos(th[j])
            for i in nb.prange(n):
                s = 0.0
                for j in range(n):
                    s += (sn[j] * cs[i] - cs[j] * sn[i]) * knm[i * n + j]
                d[i] = omegas[i] + s + zeta * math.sin(psi - th[i])
            for e in range(nodes.shape[0]):
                total = th[nodes[e, 0]] + th[nodes[e, 1]] + th[nodes[e, 2]]
                for q in range(3):
                    m = nodes[e, q]
                    d[m] += strengths[e] * math.sin(total - 3.0 * th[m])
            for i in nb.prange(n):
                r = np.fmod(th[i] + dt * d[i], TWO_PI)
                th[i] = r + TWO_PI if r < 0.0 else r
        return th

    def call(net, steps, dt=0.01):
        phases, omegas, knm, _, nodes, strengths = net
        return run(phases, omegas, knm, nodes, strengths, 0.5, 1.0, dt, steps)
    return call


def main():
    header("hypergraph")
    net = network(16, False, 16)  # noqa: F821 (from SETUP)
    assert np.allclose(ours(net, 50), numpy_run(net, 50), atol=1e-9)  # noqa: F821
    compare("n=16, 16 triangles, 2000 steps vs NumPy loop", lambda: ours(net, 2000),  # noqa: F821
            lambda: numpy_run(net, 2000), 15)
    nb_run = numba_run()
    net = network(4096, False, 64)  # noqa: F821
    if nb_run is not None:
        assert np.allclose(ours(net, 3), nb_run(net, 3), atol=1e-9)  # noqa: F821 (also compiles the loop)
    print(f"load {os.getloadavg()[0]:.1f}")
    compare_peers("n=4096 zero lags, 64 triangles, 10 steps", lambda: ours(net, 10),  # noqa: F821
                  {"Numba": None if nb_run is None else lambda: nb_run(net, 10)}, {"Numba": 1.0})
    pool_vs_one_worker("n=2048 lags, 64 triangles, 2 steps", SETUP + "net = network(2048, True, 64)",
                       "ours(net, 2)")


if __name__ == "__main__":
    main()
