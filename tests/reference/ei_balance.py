"""Excitatory/inhibitory balance with plain loops, for bit-for-bit comparison."""
import math


def balance(knm, n, exc, inh):
    exc = [int(r) for r in exc if 0 <= r < n]
    inh = [int(r) for r in inh if 0 <= r < n]

    def strength(rows):
        s, count = 0.0, 0
        for r in rows:
            for c in range(n):
                s += knm[r * n + c]
            count += n
        return s / count if count else 0.0

    def block(rows, cols):
        s, count = 0.0, 0
        for r in rows:
            for c in cols:
                s += knm[r * n + c]
                count += 1
        return s / count if count else 0.0

    e, i = strength(exc), strength(inh)
    if 1e-15 > abs(i):
        ratio = math.inf if e > 0.0 else 1.0
    else:
        ratio = e / i
    return (ratio, e, i, 0.8 <= ratio <= 1.2, block(exc, exc), block(exc, inh), block(inh, exc), block(inh, inh))


def adjust(knm, n, exc, inh, target=1.0):
    ratio, e, i = balance(knm, n, exc, inh)[:3]
    out = [float(x) for x in knm]
    if 1e-15 > abs(i) or 1e-15 > abs(e) or 1e-10 > abs(ratio - target):
        return out
    scale = ratio / target
    for r in inh:
        if 0 <= r < n:
            for c in range(n):
                out[r * n + c] *= scale
    return out
