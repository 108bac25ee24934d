"""Simplicial stepper in plain Python floats: pairwise coupling (blocks of eight on the zero-lag path), the triadic
term in closed form, 2 (C c_i + S s_i)(S c_i - C s_i) sigma2 / N^2, and the drive; Euler and the wrap."""
import math

from reference.integrators import wrap
from reference.stepper_kit import drive, drive_factors, pairwise_fast, pairwise_general, zero_lag


def derivative(theta, omegas, knm, alpha, zeta, psi, sigma2, fast):
    n = len(theta)
    sin_t = [math.sin(t) for t in theta]
    cos_t = [math.cos(t) for t in theta]
    dz = drive_factors(zeta, psi)
    triadic = n >= 3 and sigma2 != 0.0
    S = C = 0.0
    if triadic:
        S = C = -0.0
        for j in range(n):
            S = S + sin_t[j]
        for j in range(n):
            C = C + cos_t[j]
    kappa = sigma2 / (float(n) * float(n))
    out = []
    for i in range(n):
        krow = knm[i * n:(i + 1) * n]
        if fast:
            v = pairwise_fast(sin_t, cos_t, i, krow, blocks=True)
        else:
            v = pairwise_general(theta, i, krow, alpha[i * n:(i + 1) * n])
        v = v + omegas[i]
        if triadic:
            v = v + ((S * sin_t[i] + C * cos_t[i]) * (2.0 * (S * cos_t[i] - C * sin_t[i]))) * kappa
        if dz:
            v = v + drive(dz, sin_t[i], cos_t[i])
        out.append(v)
    return out


def run(n, phases, omegas, knm, alpha, zeta, psi, sigma2, dt, n_steps):
    y = [float(v) for v in phases]
    omegas, knm, alpha = [float(v) for v in omegas], [float(v) for v in knm], [float(v) for v in alpha]
    fast = zero_lag(alpha)
    for _ in range(n_steps):
        d = derivative(y[:n], omegas, knm, alpha, zeta, psi, sigma2, fast)
        y[:n] = [wrap(y[i] + d[i] * dt) for i in range(n)]
    return y
