"""Circular distances and the normalised persistent entropy of the merge
barcode, from SciPy's minimum spanning tree."""
import math

import numpy as np
from scipy.sparse.csgraph import minimum_spanning_tree


def distance(a, b):
    return abs(math.atan2(math.sin(b - a), math.cos(b - a)))


def matrix(phases):
    n = len(phases)
    return np.array([[distance(phases[i], phases[j]) if i < j else distance(phases[j], phases[i]) if i > j else 0.0
                      for j in range(n)] for i in range(n)]).ravel()


def bars(phases):
    """Merge lengths, ascending; phases must be distinct (SciPy reads a zero
    distance as a missing edge)."""
    d = np.abs(np.angle(np.exp(1j * (np.asarray(phases)[None, :] - np.asarray(phases)[:, None]))))
    return np.sort(minimum_spanning_tree(d).data)


def entropy(bar_lengths):
    b = np.asarray(bar_lengths, dtype=float)
    if len(b) == 0 or b.sum() < 1e-15:
        return 0.0
    p = b[b > 0] / b.sum()
    h = -(p * np.log(p)).sum()
    return float(h / math.log(len(p))) if len(p) >= 2 else float(h)
