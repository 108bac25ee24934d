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


def _enabled(m, ins, guard, ctx):
    if guard is not None:
        metric, op, threshold = guard.split()
        v, t = ctx.get(metric), float(threshold)
        if v is None or not math.isfinite(v) or not math.isfinite(t) or not OPS[op](v, t):
            return False
    return all(m.get(p, 0) >= w for p, w in ins)


def enabled(transitions, tokens, ctx):
    return [name for name, ins, _, guard in transitions if _enabled(tokens, ins, guard, ctx)]


def step(places, transitions, tokens, ctx):
    m = {k: c for k, c in tokens.items() if c > 0}
    fired = None
    for name, ins, outs, guard in transitions:
        if _enabled(m, ins, guard, ctx):
            for p, w in ins:
                m[p] = max(0, m.get(p, 0) - w)
            for p, w in outs:
                m[p] = min(MAX, m.get(p, 0) + w)
            fired = name
            break
    return {p: m[p] for p in places if m.get(p, 0) > 0}, fired
