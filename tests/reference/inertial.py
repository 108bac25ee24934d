"""Second-order (swing-equation) oscillators on y = [theta; w], one classical Runge-Kutta step of dt."""
import numpy as np

from reference.integrators import rk4, wrap
from reference.stepper_kit import caches, fast_sine, row_sums


def derivative(y, power, knm, inertia, damping):
    n = len(power)
    theta, w = y[:n], y[n:]
    s, c = caches(theta)
    coupling = row_sums(fast_sine(s, c) * knm.reshape(n, n), "blocks8")
    with np.errstate(divide="ignore", invalid="ignore"):
        dw = ((coupling + power) - damping * w) / inertia
    return np.concatenate([w, dw])


def step(theta, omega_dot, power, knm, inertia, damping, dt):
    n = len(theta)
    with np.errstate(invalid="ignore", over="ignore"):
        y = rk4(lambda x: derivative(x, power, knm, inertia, damping), np.concatenate([theta, omega_dot]), dt)
    return wrap(y[:n]), y[n:]
