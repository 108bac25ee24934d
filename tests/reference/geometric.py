"""Torus integrator from its equations: unit vectors (cos, sin) turned by an exact rotation through w_i dt,
renormalised, every oscillator from the state before the step (plain row sums, the state's components for the
caches and its angles for the phases); angles formed and wrapped once at the end."""
import math

import numpy as np

from reference.hypergraph import pairwise
from reference.integrators import wrap
from reference.stepper_kit import caches, drive


def torus_run(phases, omegas, knm, alpha, zeta, psi, dt, n_steps):
    phases, omegas, knm, alpha = (np.asarray(v, dtype=float) for v in (phases, omegas, knm, alpha))
    n = len(phases)
    s, c = caches(phases)
    fast = all(a == 0.0 for a in alpha)
    for _ in range(n_steps):
        phi = np.array([math.atan2(s[j], c[j]) for j in range(n)])
        w = pairwise(phi, s, c, knm, alpha, fast, "plain") + omegas[:n]
        dz = drive(s, c, zeta, psi)
        if dz is not None:
            w = w + dz
        sa, ca = np.array([math.sin(a) for a in w * dt]), np.array([math.cos(a) for a in w * dt])
        x, y = c * ca - s * sa, c * sa + s * ca
        q = x * x + y * y
        r = np.sqrt(np.where(q > 0.0, q, 1.0))
        c, s = np.where(q > 0.0, x / r, x), np.where(q > 0.0, y / r, y)
    return wrap(np.array([math.atan2(s[i], c[i]) for i in range(n)]))
