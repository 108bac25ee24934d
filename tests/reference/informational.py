"""Phase, frequency and regularity of an event stream, with the math module only."""
import math

from reference.integrators import TWO_PI, wrap
from reference.physical import sorted_median


def event_phase(t):
    n = len(t)
    if n < 2 or not all(math.isfinite(x) for x in t):
        return 0.0, 0.0, 0.0
    dt = [t[i + 1] - t[i] for i in range(n - 1)]
    if not all(d > 0.0 and math.isfinite(d) for d in dt):
        return 0.0, 0.0, 0.0
    omega = sorted_median([1.0 / d for d in dt]) * TWO_PI
    span = t[-1] - t[0]
    if not (span > 0.0 and math.isfinite(span)):
        return 0.0, 0.0, 0.0
    m = len(dt)
    total = 0.0
    for d in dt:
        total += d
    mu = total / m
    ss = 0.0
    for d in dt:
        ss += (d - mu) * (d - mu)
    q = min(max(1.0 / (math.sqrt(ss / m) / mu + 1.0), 0.0), 1.0)
    return wrap(((omega / TWO_PI) * TWO_PI) * span), omega, q
