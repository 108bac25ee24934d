"""Hypergraph stepper in plain Python floats: pairwise coupling (only with a full knm), drive, and hyperedges whose
entries m each receive s_e sin(S_e - k theta_m), S_e the sum of the entries' phases from -0.0; Euler and the wrap."""
import math

from reference.integrators import wrap
from reference.stepper_kit import drive, drive_factors, pairwise_fast, pairwise_general, zero_lag


def derivative(theta, omegas, edges, knm, alpha, zeta, psi):
    """Returns (dtheta/dt, sin theta, cos theta) for the first n = len(theta) phases."""
    n = len(theta)
    sin_t = [math.sin(t) for t in theta]
    cos_t = [math.cos(t) for t in theta]
    dz = drive_factors(zeta, psi)
    pairwise = len(knm) == n * n
    fast = pairwise and zero_lag(alpha)
    out = []
    for i in range(n):
        krow = knm[i * n:(i + 1) * n]
        if not pairwise:
            v = omegas[i] + 0.0
        elif fast:
            v = pairwise_fast(sin_t, cos_t, i, krow, blocks=True) + omegas[i]
        else:
            v = pairwise_general(theta, i, krow, alpha[i * n:(i + 1) * n]) + omegas[i]
        if dz:
            v = v + drive(dz, sin_t[i], cos_t[i])
        out.append(v)
    for nodes, strength in edges:
        if not nodes:
            continue
        k = float(len(nodes))
        total = -0.0
        for m in nodes:
            total = total + theta[m]
        for m in nodes:
            out[m] = out[m] + math.sin(total - theta[m] * k) * strength
    return out, sin_t, cos_t


def run(n, phases, omegas, edges, knm, alpha, zeta, psi, dt, n_steps):
    """n_steps Euler steps of the first n phases; returns (phases, sin cache, cos cache)."""
    y = [float(v) for v in phases]
    omegas, knm, alpha = [float(v) for v in omegas], [float(v) for v in knm], [float(v) for v in alpha]
    sin_t = cos_t = [0.0] * n
    for _ in range(n_steps):
        d, sin_t, cos_t = derivative(y[:n], omegas, edges, knm, alpha, zeta, psi)
        y[:n] = [wrap(y[i] + d[i] * dt) for i in range(n)]
    return y, sin_t, cos_t


def order_parameter(sin_t, cos_t):
    """R and psi from the caches, sums from -0.0."""
    n = len(sin_t)
    c = s = -0.0
    for i in range(n):
        c = c + cos_t[i]
        s = s + sin_t[i]
    c, s = c / n, s / n
    r = math.sqrt(c * c + s * s)
    return (1.0 if r > 1.0 else r), wrap(math.atan2(s, c))
