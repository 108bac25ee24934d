"""Sheaf UPDE: d angles per oscillator, d x d restriction maps in n x n blocks.

d theta_ia/dt = omega_ia + sum_j sum_b R_ij[a][b] sin(theta_jb - theta_ia) + zeta sin(psi_a - theta_ia)

The derivative keeps the stated order of every addition, so small cases match bit for bit.
"""
import math

import numpy as np

from reference.integrators import E, dopri_stages, euler, rk4, weighted, wrap


def _sincos(v):
    return np.array([math.sin(x) for x in v]), np.array([math.cos(x) for x in v])


def derivative(y, omegas, maps, zeta, psi, n, d):
    """Elementwise NumPy arithmetic only, so every entry is added in the stated order."""
    s, c = _sincos(y)
    si, ci, r = s.reshape(n, d), c.reshape(n, d), np.asarray(maps, dtype=float).reshape(n, n, d, d)
    acc = np.zeros((n, d))
    for j in range(n):
        for b in range(d):
            rjb = r[:, j, :, b]  # [i, a]; exact zeros are skipped
            acc = np.where(rjb != 0.0, acc + rjb * (s[j * d + b] * ci - c[j * d + b] * si), acc)
    out = acc + np.asarray(omegas, dtype=float).reshape(n, d)
    if zeta != 0.0:
        sp, cp = _sincos(psi)
        out = out + zeta * (sp * ci - cp * si)
    return out.ravel()


def step(method, y, omegas, maps, zeta, psi, n, d, dt, substeps=1, last_dt=None, atol=1e-6, rtol=1e-3):
    """One step call; returns (wrapped phases, last_dt)."""
    f = lambda x: derivative(x, omegas, maps, zeta, psi, n, d)  # noqa: E731
    y = np.array(y, dtype=float)
    if method != "rk45":
        for _ in range(substeps):
            y = (euler if method == "euler" else rk4)(f, y, dt / substeps)
        return wrap(y), last_dt
    remaining, h_cur, h_min = dt, last_dt, min(1e-9, dt)
    while remaining > 1e-12:
        h = min(h_cur, remaining)
        ks, y5 = dopri_stages(f, y, h, slope_first=True)
        q = h * weighted(E, ks) / (atol + rtol * np.fmax(np.abs(y), np.abs(y5)))
        total = 0.0
        for v in q * q:
            total += v
        err = math.sqrt((1.0 / y.size) * total)
        prop = 5.0 * h if err == 0.0 else min(max(0.9 * h * err ** -0.2, 0.1 * h), 5.0 * h)
        h_cur = prop = min(max(prop, h_min), dt)
        if err <= 1.0:
            y, remaining, last_dt = y5, remaining - h, prop
        elif h <= h_min:
            raise ArithmeticError("rejected at the smallest step")
    return wrap(y), last_dt
