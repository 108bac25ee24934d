"""Poincare sections vectorised with NumPy, operation for operation as the
arithmetic defines them, so that results agree bit for bit."""
import numpy as np

from reference.integrators import TWO_PI


def round_half_away(x):
    r = np.trunc(x)
    return r + np.where(np.abs(x - r) >= 0.5, np.sign(x), 0.0)


def short_arc(d):
    return d - round_half_away(d / TWO_PI) * TWO_PI


def _result(rows, k, frac, step):
    pts = step(rows[k + 1] - rows[k]) * frac[:, None] + rows[k]
    return pts.ravel(), frac + k, len(k)


def section(traj, t, d, normal, offset=0.0, direction="positive"):
    x = np.asarray(traj, dtype=float).reshape(t, d)
    u = np.asarray(normal, dtype=float) / np.sqrt(sum(c * c for c in normal))
    s = np.zeros(t)
    for i in range(d):  # summed in component order, from 0.0
        s = s + x[:, i] * u[i]
    s = s - offset
    s0, s1 = s[:-1], s[1:]
    mask = {"positive": (s0 < 0) & (s1 >= 0), "negative": (s0 > 0) & (s1 <= 0),
            "both": ((s0 < 0) & (s1 > 0)) | ((s0 > 0) & (s1 < 0))}[direction]
    k = np.nonzero(mask)[0]
    diff = s1[k] - s0[k]
    with np.errstate(all="ignore"):
        frac = np.where(np.abs(diff) > 1e-15, -s0[k] / diff, 0.5)
    return _result(x, k, frac, lambda v: v)


def phase_section(phases, t, n, idx=0, section_phase=0.0):
    rows = np.asarray(phases, dtype=float).reshape(t, n)
    steps = np.concatenate([rows[:1, idx], short_arc(np.diff(rows[:, idx]))])
    u = np.cumsum(steps)  # a running sum in sample order
    rel = np.fmod(np.fmod(u - section_phase, TWO_PI) + TWO_PI, TWO_PI)
    k = np.nonzero((rel[:-1] > np.pi) & (rel[1:] < np.pi))[0]
    num = TWO_PI - rel[k]
    den = rel[k + 1] + num
    with np.errstate(all="ignore"):
        frac = np.where(den > 1e-15, np.clip(num / den, 0.0, 1.0), 0.5)
    return _result(rows, k, frac, short_arc)
