"""Winding numbers of a time-major phase history."""
import math


def winding_numbers(history, n):
    if n == 0:
        return []
    t = len(history) // n
    if t < 2 or t * n != len(history):
        return [0] * n
    out = []
    for i in range(n):
        total = 0.0
        for s in range(1, t):
            a = (history[(s - 1) * n + i] - history[s * n + i]) + math.pi
            r = math.fmod(a, 2 * math.pi) if math.isfinite(a) else math.nan  # C's fmod: NaN, no error
            if r < 0:
                r += 2 * math.pi
            total += math.pi - r
        w = math.floor(total / (2 * math.pi)) if math.isfinite(total) else 0
        out.append(max(-2**63, min(2**63 - 1, w)))
    return out
