"""Ring and walk phases of state sequences, in Python integers and the math module."""
import math

from reference.integrators import TWO_PI

U64_MAX = 2**64 - 1


def turn(i, n):
    return 0.0 if n == 0 else math.fmod((float(i) * TWO_PI) / float(n), TWO_PI)


def ring_phases(s, n):
    return [turn(x % n, n) if n else 0.0 for x in s]


def graph_walk_phases(s, n):
    if len(s) < 2:
        return ring_phases(s, n)
    d = [0]
    for a, b in zip(s, s[1:]):
        d.append(min(d[-1] + abs(b - a), U64_MAX))
    total = float(d[-1] or 1)
    return [math.fmod((float(x) * TWO_PI) / total, TWO_PI) for x in d]
