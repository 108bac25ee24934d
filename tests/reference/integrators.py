"""The wrap and the Runge-Kutta machinery that every stepper reference shares.

States are float64 NumPy arrays; elementwise NumPy arithmetic rounds every
product and sum on its own (nothing fused), so with the stated groupings the
results compare bit for bit. `f(y)` is the model's right-hand side.
"""
import numpy as np

TWO_PI = 6.283185307179586


def wrap(x):
    """fmod by 2pi, plus 2pi for a negative remainder; an infinity gives NaN. Scalars stay scalars."""
    with np.errstate(invalid="ignore"):
        r = np.fmod(x, TWO_PI)
        out = np.where(r < 0.0, r + TWO_PI, r)
    return float(out) if np.ndim(x) == 0 else out


def euler(f, y, h):
    return y + f(y) * h


def rk4(f, y, h):
    """Stages at y + (h/2) k1, y + (h/2) k2, y + h k3; y + ((2 k3 + (2 k2 + k1)) + k4) (h/6)."""
    half, sixth = 0.5 * h, h / 6.0
    k1 = f(y)
    k2 = f(y + half * k1)
    k3 = f(y + half * k2)
    k4 = f(y + h * k3)
    return y + (((k3 + k3) + ((k2 + k2) + k1)) + k4) * sixth


# Dormand-Prince 5(4): rows of a for stages 2 to 6, fifth-order weights B5, embedded fourth-order B4.
A = [[0.2], [3 / 40, 9 / 40], [44 / 45, -56 / 15, 32 / 9],
     [19372 / 6561, -25360 / 2187, 64448 / 6561, -212 / 729],
     [9017 / 3168, -355 / 33, 46732 / 5247, 49 / 176, -5103 / 18656]]
B5 = [35 / 384, 0.0, 500 / 1113, 125 / 192, -2187 / 6784, 11 / 84, 0.0]
B4 = [5179 / 57600, 0.0, 7571 / 16695, 393 / 640, -92097 / 339200, 187 / 2100, 1 / 40]
E = [b4 - b5 for b4, b5 in zip(B4, B5)]


def weighted(weights, ks):
    """sum of w k from the first stage up, zero weights left out and no leading 0.0."""
    terms = [(w, k) for w, k in zip(weights, ks) if w != 0.0]
    acc = terms[0][0] * terms[0][1]
    for w, k in terms[1:]:
        acc = w * k + acc
    return acc


@np.errstate(over="ignore", invalid="ignore")  # overflowing stages are the caller's to see
def dopri_stages(f, y, h, slope_first=False):
    """One attempt of size h: returns ([k1 .. k7], y5), k7 evaluated at y5.

    Stage 2 is k1 (h 0.2) + y, or (0.2 k1) h + y with slope_first."""
    ks = [f(y)]
    ks.append(f((0.2 * ks[0]) * h + y if slope_first else ks[0] * (h * 0.2) + y))
    for row in A[1:]:
        ks.append(f(weighted(row, ks) * h + y))
    y5 = weighted(B5, ks) * h + y
    ks.append(f(y5))
    return ks, y5


@np.errstate(over="ignore", invalid="ignore")
def dopri_single_step(f, y, last_dt, dt, atol, rtol, slope_first=False):
    """At most four attempts from last_dt with the max-norm error; returns (y5, new last_dt, [(h, err), ...])."""
    h, log = last_dt, []
    for attempt in range(1, 5):
        ks, y5 = dopri_stages(f, y, h, slope_first)
        y4 = weighted(B4, ks) * h + y
        big = np.where(np.isnan(np.abs(y5)), np.abs(y), np.maximum(np.abs(y), np.abs(y5)))
        ratios = np.abs(y5 - y4) / (atol + rtol * big)
        err = 0.0
        for r in ratios:  # NaN ratios are skipped
            err = r if r > err else err
        log.append((h, float(err)))
        if err <= 1.0:
            factor = 5.0 if err == 0.0 else min(0.9 * err ** -0.2, 5.0)
            return y5, min(h * factor, 10.0 * dt), log
        h_new = h * max(0.9 * err ** -0.25, 0.2)
        if attempt == 4:
            return y5, h_new, log
        h = h_new
