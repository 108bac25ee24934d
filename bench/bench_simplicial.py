"""Simplicial runs against a NumPy loop of the same steps (K@sin, K@cos and the triadic closed form), and the
pool's speed-up over one worker.

    python3 bench/bench_simplicial.py
"""
import numpy as np

from harness import compare, header, np_wrap, pool_vs_one_worker

SETUP = """
import numpy as np, qel_kernel as qk
from harness import random_network as network
def ours(net, steps, sigma2=0.8, dt=0.01):
    phases, omegas, knm, alpha = net
    return qk.simplicial_run_rust(phases, omegas, knm, alpha, len(phases), 0.5, 1.0, sigma2, dt, steps)
"""
exec(SETUP)


def numpy_run(net, steps, sigma2=0.8, dt=0.01, zeta=0.5, psi=1.0):
    phases, omegas, knm, alpha = net
    n = len(phases)
    k = knm.reshape(n, n)
    th = phases.copy()
    for _ in range(steps):
        s, c = np.sin(th), np.cos(th)
        S, C = s.sum(), c.sum()
        d = omegas + (k @ s) * c - (k @ c) * s + zeta * np.sin(psi - th)
        d += sigma2 / (n * n) * 2.0 * (S * s + C * c) * (S * c - C * s)
        th = np_wrap(th + dt * d)
    return th


def main():
    header("simplicial")
    net = network(16, False)  # noqa: F821 (from SETUP)
    assert np.allclose(ours(net, 50), numpy_run(net, 50), atol=1e-9)  # noqa: F821
    compare("n=16, 2000 steps vs NumPy loop", lambda: ours(net, 2000), lambda: numpy_run(net, 2000), 15)  # noqa: F821
    pool_vs_one_worker("n=2048 lags, 2 steps", SETUP + "net = network(2048, True)", "ours(net, 2)")


if __name__ == "__main__":
    main()
