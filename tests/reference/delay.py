"""Euler run of the Kuramoto network whose coupling reads the phases of delay_steps steps ago (the current ones
until that many steps are done), from its definition."""
import math

import numpy as np

from reference import stepper_kit as kit
from reference.integrators import wrap


def delayed_run(phases, omegas, knm, alpha, zeta, psi, dt, delay, n_steps, blocks8=False):
    """Phases after n_steps steps; with blocks8 the zero-lag rows are summed in blocks of eight."""
    theta = np.array(phases, dtype=float)
    n = len(theta)
    k, a = np.reshape(knm, (n, n)), np.reshape(alpha, (n, n))
    zero_lag = all(x == 0.0 for x in alpha)
    past = []
    for step in range(n_steps):
        s, c = kit.caches(theta)
        past.append((s, c))
        hs, hc = past[step - delay] if delay >= 1 and step >= delay else (s, c)
        if zero_lag:
            terms = (hs[None, :] * c[:, None] - hc[None, :] * s[:, None]) * k
        else:
            delayed = np.array([math.atan2(x, y) for x, y in zip(hs, hc)])
            terms = kit.sin_cos_of((delayed[None, :] - theta[:, None]) - a)[0] * k
        base = kit.row_sums(terms, "blocks8" if blocks8 and zero_lag else "plain") + omegas
        d = kit.drive(s, c, zeta, psi)
        theta = wrap((base + 0.0 if d is None else base + d) * dt + theta)
    return theta
