"""Winding numbers of a time-major phase history."""
import math


def winding_numbers(history, n):
    t = len(history) // n if n else 0
    if t < 2 or t * n != len(history):
        return [0] * n
    out = []
    for i in range(n):
        total = 0.0
        for s in range(1, t):
            a = (history[(s - 1) * n + i] - history[s * n + i]) + math.pi
            r = math.fmod(a, 2 * math.pi) if math.isfinite(a) else math.nan  # C's fmod gives NaN
            total += math.pi - (r + 2 * math.pi if r < 0 else r)
        out.append(math.floor(total / (2 * math.pi)) if math.isfinite(total) else 0)
    return out
