"""Sheaf UPDE: d angles per oscillator, d x d restriction maps in n x n blocks.

d theta_ia/dt = omega_ia + sum_j sum_b R_ij[a][b] sin(theta_jb - theta_ia) + zeta sin(psi_a - theta_ia)

Two forms: `derivative` in NumPy (einsum, for tolerance comparisons at any
size) and `exact_step` in plain Python floats, adding in the stated order so
that small cases can be compared bit for bit.
"""
import math

import numpy as np

TWO_PI = 6.283185307179586


def blocks(maps, n, d):
    """Flat block-ordered maps as an array R[i, j, a, b]."""
    return np.asarray(maps, dtype=float).reshape(n, n, d, d)


def from_block_matrix(big, n, d):
    """An (n*d) x (n*d) matrix, entry (i*d+a, j*d+b) = R_ij[a][b], in block order."""
    return np.asarray(big).reshape(n, d, n, d).transpose(0, 2, 1, 3).ravel().copy()


def derivative(theta, omegas, maps, zeta, psi, n, d):
    th = np.asarray(theta, dtype=float).reshape(n, d)
    r = blocks(maps, n, d)
    diff = th[None, :, None, :] - th[:, None, :, None]  # [i, j, a, b] = theta_jb - theta_ia
    out = np.asarray(omegas, dtype=float).reshape(n, d) + np.einsum("ijab,ijab->ia", r, np.sin(diff))
    if zeta != 0.0:
        out = out + zeta * np.sin(np.asarray(psi)[None, :] - th)
    return out.ravel()


def wrap(x):
    r = np.fmod(x, TWO_PI)
    return np.where(r < 0.0, r + TWO_PI, r)


def euler(theta, omegas, maps, zeta, psi, n, d, dt, substeps=1):
    y = np.array(theta, dtype=float)
    h = dt / substeps
    for _ in range(substeps):
        y = y + h * derivative(y, omegas, maps, zeta, psi, n, d)
    return wrap(y)


def rk4(theta, omegas, maps, zeta, psi, n, d, dt, substeps=1):
    y = np.array(theta, dtype=float)
    h = dt / substeps
    f = lambda x: derivative(x, omegas, maps, zeta, psi, n, d)  # noqa: E731
    for _ in range(substeps):
        k1 = f(y)
        k2 = f(y + h / 2 * k1)
        k3 = f(y + h / 2 * k2)
        k4 = f(y + h * k3)
        y = y + h / 6 * (k1 + 2 * k2 + 2 * k3 + k4)
    return wrap(y)


# --- plain-Python form, in the stated order of operations -------------------

A = [
    [],
    [1 / 5],
    [3 / 40, 9 / 40],
    [44 / 45, -56 / 15, 32 / 9],
    [19372 / 6561, -25360 / 2187, 64448 / 6561, -212 / 729],
    [9017 / 3168, -355 / 33, 46732 / 5247, 49 / 176, -5103 / 18656],
]
B5 = [35 / 384, 0.0, 500 / 1113, 125 / 192, -2187 / 6784, 11 / 84, 0.0]
B4 = [5179 / 57600, 0.0, 7571 / 16695, 393 / 640, -92097 / 339200, 187 / 2100, 1 / 40]
E = [b4 - b5 for b4, b5 in zip(B4, B5)]


def exact_derivative(y, omegas, maps, zeta, psi, n, d):
    s = [math.sin(v) for v in y]
    c = [math.cos(v) for v in y]
    out = []
    for i in range(n):
        for a in range(d):
            acc = 0.0
            for j in range(n):
                for b in range(d):
                    r = maps[((i * n + j) * d + a) * d + b]
                    if r != 0.0:
                        acc += r * (s[j * d + b] * c[i * d + a] - c[j * d + b] * s[i * d + a])
            v = acc + omegas[i * d + a]
            if zeta != 0.0:
                v += zeta * (math.sin(psi[a]) * c[i * d + a] - math.cos(psi[a]) * s[i * d + a])
            out.append(v)
    return out


def _wrap1(x):
    r = math.fmod(x, TWO_PI)
    return r + TWO_PI if r < 0.0 else r


def _combine(y, h, coeffs, ks):
    out = []
    for k in range(len(y)):
        s = 0.0
        first = True
        for a, kk in zip(coeffs, ks):
            if a == 0.0:
                continue
            s = a * kk[k] if first else s + a * kk[k]
            first = False
        out.append(y[k] + h * s)
    return out


def exact_step(method, y, omegas, maps, zeta, psi, n, d, dt, substeps=1, last_dt=None, atol=1e-6, rtol=1e-3):
    """One step call; returns (wrapped phases, last_dt)."""
    f = lambda x: exact_derivative(x, omegas, maps, zeta, psi, n, d)  # noqa: E731
    y = [float(v) for v in y]
    m = len(y)
    if method == "euler":
        h = dt / substeps
        for _ in range(substeps):
            k1 = f(y)
            y = [y[k] + h * k1[k] for k in range(m)]
    elif method == "rk4":
        h = dt / substeps
        for _ in range(substeps):
            k1 = f(y)
            k2 = f([y[k] + (h / 2) * k1[k] for k in range(m)])
            k3 = f([y[k] + (h / 2) * k2[k] for k in range(m)])
            k4 = f([y[k] + h * k3[k] for k in range(m)])
            y = [y[k] + ((2 * k3[k] + (2 * k2[k] + k1[k])) + k4[k]) * (h / 6) for k in range(m)]
    else:
        h_min = min(1e-9, dt)
        remaining, h_cur = dt, last_dt
        while remaining > 1e-12:
            h = min(h_cur, remaining)
            ks = [f(y)]
            for row in A[1:]:
                ks.append(f(_combine(y, h, row, ks)))
            y5 = _combine(y, h, B5[:6], ks)
            ks.append(f(y5))
            total = 0.0
            for k in range(m):
                est = h * (E[0] * ks[0][k] + E[2] * ks[2][k] + E[3] * ks[3][k] + E[4] * ks[4][k]
                           + E[5] * ks[5][k] + E[6] * ks[6][k])
                sc = atol + rtol * max(abs(y[k]), abs(y5[k]))
                q = est / sc
                total += q * q
            err = math.sqrt((1.0 / m) * total)
            if err == 0.0:
                prop = 5.0 * h
            else:
                prop = min(max(0.9 * h * err ** -0.2, 0.1 * h), 5.0 * h)
            prop = min(max(prop, h_min), dt)
            h_cur = prop
            if err <= 1.0:
                y = y5
                remaining -= h
                last_dt = prop
            elif h <= h_min:
                raise ArithmeticError("rejected at the smallest step")
    return [_wrap1(v) for v in y], last_dt
