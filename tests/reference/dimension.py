"""Correlation sums and the Kaplan-Yorke dimension from their definitions."""
import math

import numpy as np
from scipy.spatial.distance import pdist

from reference import MASK64, mmix


def distance(traj, d, i, j):
    """A sequential sum of squares and its root."""
    s = 0.0
    for k in range(d):
        diff = traj[i * d + k] - traj[j * d + k]
        s += diff * diff
    return math.sqrt(s)


def distances(traj, t, d):
    return [distance(traj, d, i, j) for i in range(t) for j in range(i + 1, t)]


def correlation_exhaustive(traj, t, d, eps):
    dist = pdist(np.asarray(traj, dtype=float).reshape(t, d))
    return [np.count_nonzero(dist < e) / dist.size for e in eps]


def sampled_distances(traj, t, d, max_pairs, seed, chunks):
    """Chunk c draws max_pairs // chunks ordered pairs from its own MMIX generator."""
    out = []
    for c in range(chunks):
        state = ((c * 0x9E3779B97F4A7C15) & MASK64) ^ seed

        def draw():
            nonlocal state
            state = mmix(state)
            return (state >> 33) % t

        for _ in range(max_pairs // chunks):
            i, j = draw(), draw()
            while i == j:
                i, j = draw(), draw()
            out.append(distance(traj, d, i, j))
    return out


def correlation_sampled(traj, t, d, eps, max_pairs, seed, chunks):
    dist = sampled_distances(list(map(float, traj)), t, d, max_pairs, seed, chunks)
    return [sum(x < e for x in dist) / len(dist) if dist else math.nan for e in eps]


def kaplan_yorke(exponents):
    l = sorted(exponents, reverse=True)
    if not l:
        return 0.0
    cs = list(np.cumsum(l))
    if cs[0] < 0.0:
        return 0.0
    j = next((m - 1 for m, c in enumerate(cs) if not c >= 0.0), len(l) - 1)
    if j + 1 == len(l):
        return float(len(l))
    return j + 1 + (cs[j] / abs(l[j + 1]) if abs(l[j + 1]) >= 1e-300 else 0.0)
