"""Simplicial stepper from its equations: pairwise coupling (blocks of eight on the zero-lag path), the triadic
term in closed form, 2 (C c_i + S s_i)(S c_i - C s_i) sigma2 / N^2 with S and C summed from -0.0, and the drive;
Euler and the wrap."""
import numpy as np

from reference.hypergraph import pairwise
from reference.integrators import wrap
from reference.stepper_kit import caches, drive


def derivative(theta, omegas, knm, alpha, zeta, psi, sigma2, fast):
    n = len(theta)
    s, c = caches(theta)
    d = pairwise(theta, s, c, knm, alpha, fast, "blocks8") + omegas[:n]
    if n >= 3 and sigma2 != 0.0:
        S = C = -0.0
        for j in range(n):
            S = S + s[j]
        for j in range(n):
            C = C + c[j]
        d = d + ((S * s + C * c) * (2.0 * (S * c - C * s))) * (sigma2 / (float(n) * float(n)))
    dz = drive(s, c, zeta, psi)
    return d if dz is None else d + dz


def run(n, phases, omegas, knm, alpha, zeta, psi, sigma2, dt, n_steps):
    y = np.array(phases, dtype=float)
    omegas, knm, alpha = (np.asarray(v, dtype=float) for v in (omegas, knm, alpha))
    fast = all(a == 0.0 for a in alpha)
    for _ in range(n_steps):
        y[:n] = wrap(y[:n] + derivative(y[:n], omegas, knm, alpha, zeta, psi, sigma2, fast) * dt)
    return y
