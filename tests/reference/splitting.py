"""Strang splitting of the phase network, from its definition: exact half drifts of the natural frequencies
around one RK4 step of the coupling field (pairwise term and drive), every stage state wrapped."""
import numpy as np

from reference import stepper_kit as kit
from reference.integrators import rk4, wrap


def coupling_field(theta, knm, alpha, zeta, psi):
    """The field at theta: the pairwise sum from 0.0 in column order, then the drive; no natural frequency."""
    n = len(theta)
    s, c = kit.caches(theta)
    k = np.asarray(knm, dtype=float).reshape(n, n)
    if all(a == 0.0 for a in alpha):
        terms = kit.fast_sine(s, c) * k
    else:
        terms = k * kit.sin_cos_of((theta[None, :] - theta[:, None]) - np.reshape(alpha, (n, n)))[0]
    p = kit.row_sums(terms)
    d = kit.drive(s, c, zeta, psi)
    return p if d is None else d + p


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
