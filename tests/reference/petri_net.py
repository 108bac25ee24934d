"""Enabling and firing of a place/transition net with comparison guards."""
import math

OPS = {
    ">": lambda v, t: v > t,
    ">=": lambda v, t: v >= t,
    "<": lambda v, t: v < t,
    "<=": lambda v, t: v <= t,
    "==": lambda v, t: abs(v - t) < 1e-12,
}
MAX = 2**32 - 1


def guard_holds(guard, ctx):
    if guard is None:
        return True
    metric, op, threshold = guard.split()
    t = float(threshold)
    v = ctx.get(metric)
    if v is None or not math.isfinite(v) or not math.isfinite(t):
        return False
    return OPS[op](v, t)


def enabled(transitions, tokens, ctx):
    m = {k: c for k, c in tokens.items() if c > 0}
    return [
        name
        for name, ins, _outs, guard in transitions
        if guard_holds(guard, ctx) and all(m.get(p, 0) >= w for p, w in ins)
    ]


def step(places, transitions, tokens, ctx):
    m = {k: c for k, c in tokens.items() if c > 0}
    fired = None
    for name, ins, outs, guard in transitions:
        if guard_holds(guard, ctx) and all(m.get(p, 0) >= w for p, w in ins):
            for p, w in ins:
                m[p] = max(0, m.get(p, 0) - w)
            for p, w in outs:
                m[p] = min(MAX, m.get(p, 0) + w)
            fired = name
            break
    out = {}
    for p in places:
        if m.get(p, 0) > 0:
            out[p] = m[p]
    return out, fired
