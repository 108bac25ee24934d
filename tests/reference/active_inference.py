"""Drive command of the active-inference agent, from the order parameter."""
import math


def _wrap(x):
    r = math.fmod(x, 2.0 * math.pi)
    return r + 2.0 * math.pi if r < 0.0 else r


def _clamp_gain(x):
    if math.isnan(x):
        return x
    return min(5.0, max(0.0, x))


def control_phases(phases, target_r):
    phases = [float(p) for p in phases]
    if not phases or not all(math.isfinite(p) for p in phases):
        return 0.0, 0.0
    n = len(phases)
    c = s = 0.0
    for p in phases:
        c += math.cos(p)
        s += math.sin(p)
    c /= n
    s /= n
    mag = math.sqrt(c * c + s * s)
    r = 1.0 if mag > 1.0 else mag
    psi = _wrap(math.atan2(s, c))
    e = target_r - r
    gain = _clamp_gain(10.0 * e)
    return gain, (_wrap(psi + math.pi) if e > 0.0 else psi)


def control_observed(target_r, lr, r_obs=None, psi_obs=None):
    r = target_r if r_obs is None else r_obs
    p = 0.0 if psi_obs is None else psi_obs
    d = r - target_r
    gain = _clamp_gain(10.0 * lr * abs(d))
    return gain, (_wrap(p + math.pi) if d > 0.0 else p)
