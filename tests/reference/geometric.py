"""Torus integrator in plain Python floats: unit vectors (cos, sin) turned by an exact rotation through w_i dt,
renormalised, all oscillators from the state before the step; angles formed and wrapped once at the end."""
import math

from reference.integrators import wrap
from reference.stepper_kit import drive, drive_factors, pairwise_fast, pairwise_general, zero_lag


def torus_run(phases, omegas, knm, alpha, zeta, psi, dt, n_steps):
    n = len(phases)
    c = [math.cos(t) for t in phases]
    s = [math.sin(t) for t in phases]
    fast = zero_lag(alpha)
    dz = drive_factors(zeta, psi)
    for _ in range(n_steps):
        phi = [math.atan2(s[j], c[j]) for j in range(n)]
        nc, ns = [], []
        for i in range(n):
            krow = knm[i * n:(i + 1) * n]
            if fast:
                w = pairwise_fast(s, c, i, krow)
            else:
                w = pairwise_general(phi, i, krow, alpha[i * n:(i + 1) * n])
            w = w + omegas[i]
            if dz:
                w = w + drive(dz, s[i], c[i])
            a = w * dt
            x = c[i] * math.cos(a) - s[i] * math.sin(a)
            y = c[i] * math.sin(a) + s[i] * math.cos(a)
            q = x * x + y * y
            if q > 0.0:
                r = math.sqrt(q)
                x, y = x / r, y / r
            nc.append(x)
            ns.append(y)
        c, s = nc, ns
    return [wrap(math.atan2(s[i], c[i])) for i in range(n)]
