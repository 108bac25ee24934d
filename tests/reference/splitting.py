"""Strang splitting of the phase network, from its definition: exact half drifts of the natural frequencies
around one RK4 step of the coupling field (pairwise term and drive), every stage state wrapped."""
import math

import numpy as np

from reference.integrators import rk4, wrap


def coupling_field(theta, knm, alpha, zeta, psi):
    """The field at theta; the pairwise sum runs from 0.0 in column order, no natural frequency."""
    n = len(theta)
    s = [math.sin(x) for x in theta]
    c = [math.cos(x) for x in theta]
    zero_lag = all(a == 0.0 for a in alpha)
    out = []
    for i in range(n):
        acc = 0.0
        for j in range(n):
            k = knm[i * n + j]
            if zero_lag:
                acc += (s[j] * c[i] - c[j] * s[i]) * k
            else:
                acc += k * math.sin((theta[j] - theta[i]) - alpha[i * n + j])
        if zeta != 0.0:
            acc = (c[i] * (zeta * math.sin(psi)) - s[i] * (zeta * math.cos(psi))) + acc
        out.append(acc)
    return np.array(out)


def strang_step(theta, omegas, knm, alpha, zeta, psi, dt):
    """(new phases, the state of the last field evaluation: the fourth stage)."""
    theta, omegas = np.asarray(theta, dtype=float), np.asarray(omegas, dtype=float)
    half = 0.5 * dt
    last = {}

    def field(y):
        # Evaluating at the wrapped stage state is what RK4 with wrapped stage states does.
        last["state"] = wrap(y)
        return coupling_field(last["state"], knm, alpha, zeta, psi)

    theta = wrap(omegas * half + theta)
    theta = wrap(rk4(field, theta, dt))
    return wrap(omegas * half + theta), last["state"]
