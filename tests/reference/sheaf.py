"""Sheaf UPDE: d angles per oscillator, d x d restriction maps in n x n blocks.

d theta_ia/dt = omega_ia + sum_j sum_b R_ij[a][b] sin(theta_jb - theta_ia) + zeta sin(psi_a - theta_ia)

Two derivatives: `derivative` in NumPy (einsum, for tolerance comparisons at
any size) and `exact_derivative`, which keeps the stated order of every
addition; `step(..., exact=True)` then matches small cases bit for bit.
"""
import math

import numpy as np

TWO_PI = 6.283185307179586


def derivative(theta, omegas, maps, zeta, psi, n, d):
    th = np.asarray(theta, dtype=float).reshape(n, d)
    r = np.asarray(maps, dtype=float).reshape(n, n, d, d)  # R[i, j, a, b]
    diff = th[None, :, None, :] - th[:, None, :, None]  # [i, j, a, b] = theta_jb - theta_ia
    out = np.asarray(omegas, dtype=float).reshape(n, d) + np.einsum("ijab,ijab->ia", r, np.sin(diff))
    return (out + zeta * np.sin(np.asarray(psi)[None, :] - th)).ravel()


def wrap(x):
    r = np.fmod(x, TWO_PI)
    return np.where(r < 0.0, r + TWO_PI, r)


# --- the stated order of operations, with glibc's sin and cos ------------

A = [[], [1 / 5], [3 / 40, 9 / 40], [44 / 45, -56 / 15, 32 / 9],
     [19372 / 6561, -25360 / 2187, 64448 / 6561, -212 / 729],
     [9017 / 3168, -355 / 33, 46732 / 5247, 49 / 176, -5103 / 18656]]
B5 = [35 / 384, 0.0, 500 / 1113, 125 / 192, -2187 / 6784, 11 / 84, 0.0]
B4 = [5179 / 57600, 0.0, 7571 / 16695, 393 / 640, -92097 / 339200, 187 / 2100, 1 / 40]
E = [b4 - b5 for b4, b5 in zip(B4, B5)]


def _sincos(v):
    return np.array([math.sin(x) for x in v]), np.array([math.cos(x) for x in v])


def exact_derivative(y, omegas, maps, zeta, psi, n, d):
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


def _combine(y, h, coeffs, ks):
    # Zero coefficients are skipped, the first term is not added to 0.0.
    terms = [(a, k) for a, k in zip(coeffs, ks) if a != 0.0]
    acc = terms[0][0] * terms[0][1]
    for a, k in terms[1:]:
        acc = acc + a * k
    return y + h * acc


def step(method, y, omegas, maps, zeta, psi, n, d, dt, substeps=1, last_dt=None, atol=1e-6, rtol=1e-3, exact=False):
    """One step call; returns (wrapped phases as a list, last_dt)."""
    f = lambda x: (exact_derivative if exact else derivative)(x, omegas, maps, zeta, psi, n, d)  # noqa: E731
    y = np.array(y, dtype=float)
    if method != "rk45":
        h = dt / substeps
        for _ in range(substeps):
            k1 = f(y)
            if method == "euler":
                y = y + h * k1
                continue
            k2 = f(y + (h / 2) * k1)
            k3 = f(y + (h / 2) * k2)
            k4 = f(y + h * k3)
            y = y + ((2 * k3 + (2 * k2 + k1)) + k4) * (h / 6)
        return wrap(y).tolist(), last_dt
    remaining, h_cur, h_min = dt, last_dt, min(1e-9, dt)
    while remaining > 1e-12:
        h = min(h_cur, remaining)
        ks = [f(y)]
        for row in A[1:]:
            ks.append(f(_combine(y, h, row, ks)))
        y5 = _combine(y, h, B5[:6], ks)
        ks.append(f(y5))
        est = h * _combine(0.0, 1.0, E, ks)
        q = est / (atol + rtol * np.fmax(np.abs(y), np.abs(y5)))
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
    return wrap(y).tolist(), last_dt
