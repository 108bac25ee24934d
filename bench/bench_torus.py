"""Torus runs against a NumPy loop of the same steps (K@s, K@c, exact rotation, renormalisation), and the pool's
speed-up over one worker.

    python3 bench/bench_torus.py
"""
import numpy as np

from harness import compare, header, np_wrap, pool_vs_one_worker

SETUP = """
import numpy as np, qel_kernel as qk
from harness import random_network as network
def ours(net, steps, dt=0.01):
    phases, omegas, knm, alpha = net
    return qk.torus_run_rust(phases, omegas, knm, alpha, len(phases), 0.5, 1.0, dt, steps)
"""
exec(SETUP)


def numpy_run(net, steps, dt=0.01, zeta=0.5, psi=1.0):
    phases, omegas, knm, _ = net
    n = len(phases)
    k = knm.reshape(n, n)
    c, s = np.cos(phases), np.sin(phases)
    zs, zc = zeta * np.sin(psi), zeta * np.cos(psi)
    for _ in range(steps):
        w = omegas + (k @ s) * c - (k @ c) * s + (zs * c - zc * s)
        a = w * dt
        ca, sa = np.cos(a), np.sin(a)
        c, s = c * ca - s * sa, c * sa + s * ca
        r = np.sqrt(c * c + s * s)
        c, s = c / r, s / r
    return np_wrap(np.arctan2(s, c))


def main():
    header("torus")
    net = network(16, False)  # noqa: F821 (from SETUP)
    assert np.allclose(ours(net, 50), numpy_run(net, 50), atol=1e-9)  # noqa: F821
    compare("n=16, 2000 steps vs NumPy loop", lambda: ours(net, 2000), lambda: numpy_run(net, 2000), 15)  # noqa: F821
    pool_vs_one_worker("n=2048 lags, 2 steps", SETUP + "net = network(2048, True)", "ours(net, 2)")


if __name__ == "__main__":
    main()
