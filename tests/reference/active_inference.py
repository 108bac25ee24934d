"""Drive command of the active-inference agent, from the order parameter."""
import math

from reference.integrators import wrap as _wrap


def control_phases(phases, target_r):
    phases = [float(p) for p in phases]
    if not phases or not all(math.isfinite(p) for p in phases):
        return 0.0, 0.0
    c = s = 0.0
    for p in phases:
        c += math.cos(p)
        s += math.sin(p)
    c /= len(phases)
    s /= len(phases)
    r = min(1.0, math.sqrt(c * c + s * s))
    psi = _wrap(math.atan2(s, c))
    e = target_r - r
    return min(max(10.0 * e, 0.0), 5.0), (_wrap(psi + math.pi) if e > 0.0 else psi)


def control_observed(target_r, lr, r_obs=None, psi_obs=None):
    d = (target_r if r_obs is None else r_obs) - target_r
    p = 0.0 if psi_obs is None else psi_obs
    # max and min keep their first argument when the other is NaN, so a NaN gain survives.
    return min(max(10.0 * lr * abs(d), 0.0), 5.0), (_wrap(p + math.pi) if d > 0.0 else p)
