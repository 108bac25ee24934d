"""Hypergraph stepper from its equations: pairwise coupling (only with a full knm; blocks of eight on the zero-lag
path), drive, and hyperedges whose entries m each receive s_e sin(S_e - k theta_m), S_e the sum of the entries'
phases from -0.0, added edge by edge after the rows; Euler and the wrap."""
import math

import numpy as np

from reference.integrators import wrap
from reference.stepper_kit import caches, drive, fast_sine, row_sums, sin_cos_of


def pairwise(theta, s, c, knm, alpha, fast, order):
    n = len(theta)
    k = knm[:n * n].reshape(n, n)
    if fast:
        return row_sums(fast_sine(s, c) * k, order)
    sines, _ = sin_cos_of((theta[None, :] - theta[:, None]) - alpha[:n * n].reshape(n, n))
    return row_sums(k * sines, "plain")


def derivative(theta, omegas, edges, knm, alpha, zeta, psi):
    """Returns (dtheta/dt, sin theta, cos theta) for the phases theta (n of them)."""
    n = len(theta)
    s, c = caches(theta)
    if len(knm) == n * n:
        d = pairwise(theta, s, c, knm, alpha, all(a == 0.0 for a in alpha), "blocks8") + omegas[:n]
    else:
        d = omegas[:n] + 0.0
    dz = drive(s, c, zeta, psi)
    if dz is not None:
        d = d + dz
    d = [float(v) for v in d]
    for nodes, strength in edges:
        if not nodes:
            continue
        k = float(len(nodes))
        total = -0.0
        for m in nodes:
            total = total + theta[m]
        for m in nodes:
            d[m] = d[m] + math.sin(total - theta[m] * k) * strength
    return np.array(d), s, c


def run(n, phases, omegas, edges, knm, alpha, zeta, psi, dt, n_steps):
    """n_steps Euler steps of the first n phases; returns (phases, sin cache, cos cache)."""
    y = np.array(phases, dtype=float)
    omegas, knm, alpha = (np.asarray(v, dtype=float) for v in (omegas, knm, alpha))
    s = c = np.zeros(n)
    for _ in range(n_steps):
        d, s, c = derivative(y[:n], omegas, edges, knm, alpha, zeta, psi)
        y[:n] = wrap(y[:n] + d * dt)
    return y, s, c


def order_parameter(s, c):
    """R and psi from the caches, sums from -0.0."""
    n = len(s)
    cs = sn = -0.0
    for i in range(n):
        cs = cs + c[i]
        sn = sn + s[i]
    cs, sn = cs / n, sn / n
    r = math.sqrt(cs * cs + sn * sn)
    return (1.0 if r > 1.0 else r), wrap(math.atan2(sn, cs))
