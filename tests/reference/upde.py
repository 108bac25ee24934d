"""Dense UPDE stepper in plain Python floats, from the equations

    dtheta_i/dt = omega_i + sum_j K_ij sin(theta_j - theta_i - alpha_ij) + zeta sin(psi - theta_i),

every sum in the promised order, so results compare bit for bit (IEEE doubles, the C library's sin/cos, no fusing).
"""

import math

import numpy as np

from reference.integrators import dopri_single_step, euler, rk4, wrap

PARALLEL_MIN_N = 256


def derivative(theta, omegas, knm, alpha, zeta, psi, fast):
    """Returns (dtheta/dt, sin theta, cos theta); `fast` selects the zero-lag form."""
    n = len(theta)
    sin_t = [math.sin(t) for t in theta]
    cos_t = [math.cos(t) for t in theta]
    drive = zeta != 0.0
    if drive:
        zs, zc = zeta * math.sin(psi), zeta * math.cos(psi)
    out = []
    for i in range(n):
        row = knm[i * n:(i + 1) * n]
        if not fast:
            lags = alpha[i * n:(i + 1) * n]
            s = 0.0
            for j in range(n):
                s = s + math.sin((theta[j] - theta[i]) - lags[j]) * row[j]
            o = s + omegas[i]
            if drive:
                o = o + (cos_t[i] * zs - sin_t[i] * zc)
        else:
            S, C = _row_sums(row, sin_t, cos_t, blocked=n >= PARALLEL_MIN_N)
            o = (S * cos_t[i] - C * sin_t[i]) + omegas[i]
            if drive:
                o = (cos_t[i] * zs - sin_t[i] * zc) + o
        out.append(o)
    return out, sin_t, cos_t


def _row_sums(row, sin_t, cos_t, blocked):
    n = len(row)
    if not blocked:
        S = C = 0.0
        for j in range(n):
            S = S + row[j] * sin_t[j]
            C = C + row[j] * cos_t[j]
        return S, C
    # Column j feeds partial j % 8; partials added 0..7; tail columns after.
    ps = [0.0] * 8
    pc = [0.0] * 8
    body = n - n % 8
    for j in range(body):
        ps[j % 8] = ps[j % 8] + row[j] * sin_t[j]
        pc[j % 8] = pc[j % 8] + row[j] * cos_t[j]
    S = C = 0.0
    for l in range(8):
        S = S + ps[l]
        C = C + pc[l]
    for j in range(body, n):
        S = S + row[j] * sin_t[j]
        C = C + row[j] * cos_t[j]
    return S, C


def plasticity_update(sin_t, cos_t, knm, lr, decay, modulator, dt):
    """Dense update of knm (a list), returned, from the sines and cosines of the last evaluated phases."""
    n = len(sin_t)
    f = math.exp(-decay * dt)
    g = modulator * lr
    for i in range(n):
        for j in range(n):
            if i == j:
                knm[i * n + j] = 0.0
                continue
            v = knm[i * n + j] * f + ((sin_t[j] * sin_t[i] + cos_t[j] * cos_t[i]) * g) * dt
            knm[i * n + j] = v if v > 0.0 else 0.0  # NaN and negatives become 0.0
    return knm


class Stepper:
    """The stepper without its input checks. step() returns the new phases and changes knm (a float64 array) in
    place when plasticity is set."""

    def __init__(self, n, dt=0.01, method="euler", n_substeps=1, atol=1e-6, rtol=1e-3):
        self.dt, self.method, self.n_substeps, self.atol, self.rtol = dt, method, n_substeps, atol, rtol
        self.last_dt = dt
        self.plasticity = None
        self.modulator = 1.0
        self.attempts = []  # per adaptive step: [(h, err), ...]

    def set_plasticity(self, lr, decay=0.0, modulator=1.0):
        self.plasticity, self.modulator = (lr, decay), modulator

    def step(self, phases, omegas, knm, zeta, psi, alpha):
        omegas, alpha = [float(v) for v in omegas], [float(v) for v in alpha]
        fast = all(a == 0.0 for a in alpha)
        k = [float(v) for v in knm]

        def f(y):
            out, self.sin_t, self.cos_t = derivative([float(v) for v in y], omegas, k, alpha, zeta, psi, fast)
            return np.array(out)

        y = np.array(phases, dtype=float)
        if self.method == "rk45":
            y, self.last_dt, log = dopri_single_step(f, y, self.last_dt, self.dt, self.atol, self.rtol)
            self.attempts.append(log)
        else:
            h = self.dt / float(self.n_substeps)
            for _ in range(self.n_substeps):
                y = (euler if self.method == "euler" else rk4)(f, y, h)
        if self.plasticity is not None:
            knm[:] = plasticity_update(self.sin_t, self.cos_t, k, *self.plasticity, self.modulator, self.dt)
        return wrap(y)
