"""Ordinal pattern codes (Lehmer codes of stable sorting permutations) and
the normalised entropy of their transitions."""
import math

import numpy as np


def codes(x, dim=3, delay=1):
    x = np.asarray(x, dtype=float)
    w = len(x) - (dim - 1) * delay
    if w <= 0:
        return np.zeros(0, dtype=np.int64)
    idx = np.arange(w)[:, None] + delay * np.arange(dim)[None, :]
    perm = np.argsort(x[idx], axis=1, kind="stable")
    later = np.triu(np.ones((dim, dim), dtype=bool), 1)  # j > i
    lehmer = ((perm[:, None, :] < perm[:, :, None]) & later).sum(axis=2)
    fact = np.array([math.factorial(dim - 1 - i) for i in range(dim)], dtype=np.int64)
    return lehmer @ fact


def selection_code(window):
    """The code for windows that may hold NaN: smallest free value first,
    the earliest position winning unless a later one is strictly smaller."""
    free, perm = list(range(len(window))), []
    while free:
        cand = free[0]
        for k in free[1:]:
            if window[k] < window[cand]:
                cand = k
        perm.append(cand)
        free.remove(cand)
    d = len(perm)
    return sum(sum(perm[j] < perm[i] for j in range(i + 1, d)) * math.factorial(d - 1 - i) for i in range(d))


def transition_entropy(x, dim=3, delay=1):
    c = codes(x, dim, delay)
    if len(c) < 2:
        return 0.0
    _, counts = np.unique(c[:-1] * math.factorial(dim) + c[1:], return_counts=True)
    if len(counts) < 2:
        return 0.0
    p = counts / counts.sum()
    return float(min(1.0, -(p * np.log(p)).sum() / math.log(len(counts))))
