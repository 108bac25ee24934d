"""Dense UPDE stepper in plain Python floats, from the equations

    dtheta_i/dt = omega_i + sum_j K_ij sin(theta_j - theta_i - alpha_ij) + zeta sin(psi - theta_i),

every sum in the promised order, so results compare bit for bit (IEEE doubles, the C library's sin/cos, no fusing).
"""

import math

TWO_PI = 6.283185307179586
PARALLEL_MIN_N = 256


def wrap(x):
    if not math.isfinite(x):
        return math.nan  # C fmod of an infinity
    r = math.fmod(x, TWO_PI)
    return r + TWO_PI if r < 0.0 else r


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


# Dormand-Prince 5(4) tableau.
A = [
    [],
    [0.2],
    [3.0 / 40.0, 9.0 / 40.0],
    [44.0 / 45.0, -56.0 / 15.0, 32.0 / 9.0],
    [19372.0 / 6561.0, -25360.0 / 2187.0, 64448.0 / 6561.0, -212.0 / 729.0],
    [9017.0 / 3168.0, -355.0 / 33.0, 46732.0 / 5247.0, 49.0 / 176.0, -5103.0 / 18656.0],
]
B5 = [35.0 / 384.0, 0.0, 500.0 / 1113.0, 125.0 / 192.0, -2187.0 / 6784.0, 11.0 / 84.0, 0.0]
B4 = [5179.0 / 57600.0, 0.0, 7571.0 / 16695.0, 393.0 / 640.0, -92097.0 / 339200.0, 187.0 / 2100.0, 1.0 / 40.0]


def _weighted(weights, ks, i):
    """sum_l w_l k_l[i] from l = 0 upwards, zero weights left out."""
    s = None
    for w, k in zip(weights, ks):
        if w == 0.0:
            continue
        s = w * k[i] if s is None else s + w * k[i]
    return s


def plasticity_update(sin_t, cos_t, knm, lr, decay, modulator, dt):
    """Dense update of knm (a list) in place, from the sines and cosines of the last evaluated phases."""
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


class Stepper:
    """The stepper without its input checks. step() returns the new phases
    and changes knm (a list) in place when plasticity is set."""

    def __init__(self, n, dt=0.01, method="euler", n_substeps=1, atol=1e-6, rtol=1e-3):
        self.n, self.dt, self.method, self.n_substeps = n, dt, method, n_substeps
        self.atol, self.rtol = atol, rtol
        self.last_dt = dt
        self.plasticity = None
        self.modulator = 1.0
        self.attempts = []  # per adaptive step: [(h, err), ...]

    def set_plasticity(self, lr, decay=0.0, modulator=1.0):
        self.plasticity = (lr, decay)
        self.modulator = modulator

    def _f(self, y):
        out, self.sin_t, self.cos_t = derivative(y, self.omegas, self.knm, self.alpha, self.zeta, self.psi,
                                                 fast=self.fast)
        return out

    def step(self, phases, omegas, knm, zeta, psi, alpha):
        self.omegas, self.knm, self.alpha, self.zeta, self.psi = omegas, knm, alpha, zeta, psi
        self.fast = all(a == 0.0 for a in alpha)
        y = list(phases)
        n = len(y)
        if self.method == "rk45":
            y = self._rk45(y)
        else:
            h = self.dt / float(self.n_substeps)
            for _ in range(self.n_substeps):
                if self.method == "euler":
                    d = self._f(y)
                    y = [y[i] + d[i] * h for i in range(n)]
                else:
                    y = self._rk4(y, h)
        if self.plasticity is not None:
            lr, decay = self.plasticity
            plasticity_update(self.sin_t, self.cos_t, knm, lr, decay, self.modulator, self.dt)
        return [wrap(v) for v in y]

    def _rk4(self, y, h):
        n = len(y)
        half, sixth = 0.5 * h, h / 6.0
        k1 = self._f(y)
        k2 = self._f([y[i] + half * k1[i] for i in range(n)])
        k3 = self._f([y[i] + half * k2[i] for i in range(n)])
        k4 = self._f([y[i] + h * k3[i] for i in range(n)])
        return [y[i] + (((k3[i] + k3[i]) + ((k2[i] + k2[i]) + k1[i])) + k4[i]) * sixth for i in range(n)]

    def _rk45(self, y):
        n = len(y)
        h = self.last_dt
        log = []
        self.attempts.append(log)
        for attempt in range(1, 5):
            ks = [self._f(y)]
            ks.append(self._f([ks[0][i] * (h * 0.2) + y[i] for i in range(n)]))
            for row in A[2:]:
                ks.append(self._f([_weighted(row, ks, i) * h + y[i] for i in range(n)]))
            y5 = [_weighted(B5, ks, i) * h + y[i] for i in range(n)]
            ks.append(self._f(y5))
            err = 0.0
            for i in range(n):
                y4 = _weighted(B4, ks, i) * h + y[i]
                a, b = abs(y[i]), abs(y5[i])
                big = a if math.isnan(b) or a >= b else b
                ratio = abs(y5[i] - y4) / (self.atol + self.rtol * big)
                if ratio > err:
                    err = ratio
            log.append((h, err))
            if err <= 1.0:
                factor = 5.0 if err == 0.0 else min(0.9 * err ** -0.2, 5.0)
                self.last_dt = min(h * factor, 10.0 * self.dt)
                return y5
            h_new = h * max(0.9 * err ** -0.25, 0.2)
            if attempt == 4:
                self.last_dt = h_new
                return y5
            h = h_new
