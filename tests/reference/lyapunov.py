"""Lyapunov spectrum of the driven Kuramoto-Sakaguchi network, from the equations

    dtheta_i/dt = omega_i + sum_j K_ij sin(theta_j - theta_i - alpha_ij) + zeta sin(psi - theta_i),
    dQ/dt = J(theta) Q,  J_ij = K_ij cos(theta_j - theta_i - alpha_ij) (j != i),
    J_ii = -sum_{j != i} K_ij cos(theta_j - theta_i - alpha_ij) - zeta cos(psi - theta_i),

integrated by classical RK4 with Q re-orthonormalised (Gram-Schmidt, each column projected twice) every
qr_interval steps. `spectrum` is plain Python with every sum in the promised order (bit-for-bit on small
networks); `spectrum_numpy` is the same scheme vectorised (classical Gram-Schmidt twice, BLAS products),
a tolerance oracle and the benchmark's reference.
"""
import math

import numpy as np

TWO_PI = 6.283185307179586


def wrap(x):
    r = math.fmod(x, TWO_PI) if math.isfinite(x) else math.nan
    return r + TWO_PI if r < 0.0 else r


def _rhs(th, omegas, knm, alpha, fast, zeta, zs, zc):
    n = len(th)
    s = [math.sin(t) for t in th]
    c = [math.cos(t) for t in th]
    out = []
    for i in range(n):
        acc = 0.0
        for j in range(n):
            if fast:
                acc = acc + knm[i * n + j] * (s[j] * c[i] - c[j] * s[i])
            else:
                acc = acc + knm[i * n + j] * math.sin((th[j] - th[i]) - alpha[i * n + j])
        f = c[i] * zs - s[i] * zc if zeta != 0.0 else 0.0
        out.append((acc + omegas[i]) + f)
    return out, s, c


def _jq(th, s, c, knm, alpha, fast, q, zeta, zs, zc):
    n = len(th)
    out = [0.0] * (n * n)
    for i in range(n):
        row = [0.0] * n
        diag = 0.0
        for j in range(n):
            if j == i:
                continue
            if fast:
                w = knm[i * n + j] * (c[j] * c[i] + s[j] * s[i])
            else:
                w = knm[i * n + j] * math.cos((th[j] - th[i]) - alpha[i * n + j])
            diag = diag + w
            for col in range(n):
                row[col] = row[col] + w * q[j * n + col]
        f = c[i] * zc + s[i] * zs if zeta != 0.0 else 0.0
        for col in range(n):
            out[i * n + col] = row[col] - (diag + f) * q[i * n + col]
    return out


def gram_schmidt(q, n):
    """Column by column, two projection passes, then the norm; returns the norms."""
    norms = []
    for k in range(n):
        for _ in range(2):
            for i in range(k):
                d = 0.0
                for r in range(n):
                    d = d + q[r * n + i] * q[r * n + k]
                for r in range(n):
                    q[r * n + k] = q[r * n + k] - q[r * n + i] * d
        ss = 0.0
        for r in range(n):
            ss = ss + q[r * n + k] * q[r * n + k]
        norm = math.sqrt(ss)
        norms.append(norm)
        if norm > 1e-300:
            inv = 1.0 / norm
            for r in range(n):
                q[r * n + k] = q[r * n + k] * inv
    return norms


def _descending(values):
    return sorted(values, key=lambda v: -v)


def spectrum(phases, omegas, knm, alpha, dt, n_steps, qr_interval, zeta=0.0, psi=0.0):
    n = len(phases)
    th = list(phases)
    q = [1.0 if r == c else 0.0 for r in range(n) for c in range(n)]
    if zeta == 0.0:
        for r in range(n):
            q[r * n] = 1.0 / math.sqrt(n)
        gram_schmidt(q, n)
    fast = all(a == 0.0 for a in alpha)
    zs, zc = (zeta * math.sin(psi), zeta * math.cos(psi)) if zeta != 0.0 else (0.0, 0.0)
    half, sixth = 0.5 * dt, dt / 6.0
    sums, count, t = [0.0] * n, 0, 0.0

    def stage(th_s, q_s):
        k, s, c = _rhs(th_s, omegas, knm, alpha, fast, zeta, zs, zc)
        return k, _jq(th_s, s, c, knm, alpha, fast, q_s, zeta, zs, zc)

    for step in range(1, n_steps + 1):
        k1, j1 = stage(th, q)
        k2, j2 = stage([a + half * b for a, b in zip(th, k1)], [a + half * b for a, b in zip(q, j1)])
        k3, j3 = stage([a + half * b for a, b in zip(th, k2)], [a + half * b for a, b in zip(q, j2)])
        k4, j4 = stage([a + dt * b for a, b in zip(th, k3)], [a + dt * b for a, b in zip(q, j3)])
        th = [wrap(x + sixth * (((a + (b + b)) + (c + c)) + d)) for x, a, b, c, d in zip(th, k1, k2, k3, k4)]
        q = [x + sixth * (((a + (b + b)) + (c + c)) + d) for x, a, b, c, d in zip(q, j1, j2, j3, j4)]
        if step % qr_interval == 0:
            for k, r in enumerate(gram_schmidt(q, n)):
                a = abs(r)
                sums[k] = sums[k] + math.log(a if a > 1e-300 or math.isnan(a) else 1e-300)
            count += 1
        t = t + dt
    if count:
        sums = [v / t for v in sums]
    return _descending(sums)


def spectrum_numpy(phases, omegas, knm, alpha, dt, n_steps, qr_interval, zeta=0.0, psi=0.0):
    n = len(phases)
    th = np.array(phases, dtype=float)
    k_m, a_m = np.asarray(knm).reshape(n, n), np.asarray(alpha).reshape(n, n)
    q = np.eye(n)

    def orthonormalise(q):
        norms = np.empty(n)
        for k in range(n):
            v = q[:, k].copy()
            for _ in range(2):
                v -= q[:, :k] @ (q[:, :k].T @ v)
            norms[k] = np.sqrt(v @ v)
            q[:, k] = v / norms[k] if norms[k] > 1e-300 else v
        return norms

    if zeta == 0.0:
        q[:, 0] = 1.0 / math.sqrt(n)
        orthonormalise(q)

    def stage(th_s, q_s):
        diff = th_s[None, :] - th_s[:, None] - a_m
        k = omegas + (k_m * np.sin(diff)).sum(axis=1) + zeta * np.sin(psi - th_s)
        w = k_m * np.cos(diff)
        np.fill_diagonal(w, 0.0)
        jac = w - np.diag(w.sum(axis=1) + zeta * np.cos(psi - th_s))
        return k, jac @ q_s

    half, sixth = 0.5 * dt, dt / 6.0
    sums, count = np.zeros(n), 0
    for step in range(1, n_steps + 1):
        k1, j1 = stage(th, q)
        k2, j2 = stage(th + half * k1, q + half * j1)
        k3, j3 = stage(th + half * k2, q + half * j2)
        k4, j4 = stage(th + dt * k3, q + dt * j3)
        th = np.mod(th + sixth * (k1 + 2 * k2 + 2 * k3 + k4), TWO_PI)
        q = q + sixth * (j1 + 2 * j2 + 2 * j3 + j4)
        if step % qr_interval == 0:
            sums += np.log(np.maximum(np.abs(orthonormalise(q)), 1e-300))
            count += 1
    if count:
        sums /= n_steps * dt
    return np.sort(sums)[::-1]
