"""Layer partitions and phase-lock pairs of the coherence monitor."""
import math


def partitions(good, bad):
    g = list(dict.fromkeys(good))
    gs = set(g)
    b = [i for i in dict.fromkeys(bad) if i not in gs]
    return g, b


def mean_r(layer_rs, indices):
    taken = [layer_rs[i] for i in indices if i < len(layer_rs)]
    total = 0.0
    for v in taken:
        total += v
    return total / len(taken) if taken else 0.0


def phase_lock(n, alignment, threshold):
    if not math.isfinite(threshold) or len(alignment) != n * n:
        return []
    return [(i, j) for i in range(n) for j in range(i + 1, n) if alignment[i * n + j] >= threshold]
