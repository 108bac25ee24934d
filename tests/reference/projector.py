"""Bounds and rate limit of one knob projection."""
import math


def project(rate, bounds, v, p):
    lo, hi = bounds if bounds is not None else (-math.inf, math.inf)
    if hi < lo or math.isnan(lo) or math.isnan(hi) or not math.isfinite(v) or not math.isfinite(p):
        return 0.0

    def clamp(x):
        return min(hi, max(lo, x))

    if rate is None:
        return clamp(v)
    if not math.isfinite(rate) or rate < 0.0:
        return clamp(p)
    c = clamp(v)
    d = c - p
    if abs(d) <= rate:
        return c
    return clamp(p + (rate if d > 0 else -rate))
