"""Graph Laplacians of coupling matrices and the Laplacian spectra of small
graphs whose eigenvalues are known in closed form."""
import math

import numpy as np


def laplacian(knm, n):
    """L_ij = -(|K_ij| + |K_ji|) / 2 off the diagonal, rows summing to zero;
    the diagonal of knm plays no part."""
    k = np.abs(np.asarray(knm, dtype=float)[: n * n].reshape(n, n)) if n * n else np.zeros((n, n))
    w = (k + k.T) * 0.5
    np.fill_diagonal(w, 0.0)
    lap = -w
    lap[np.diag_indices(n)] = w.sum(axis=1)
    return lap


def graph(kind, n):
    """Unit-weight adjacency of a named graph on n nodes, flat row-major."""
    a = np.zeros((n, n))
    if kind == "path":
        for i in range(n - 1):
            a[i, i + 1] = a[i + 1, i] = 1.0
    elif kind == "cycle":
        for i in range(n):
            a[i, (i + 1) % n] = a[(i + 1) % n, i] = 1.0
    elif kind == "complete":
        a[:] = 1.0
        np.fill_diagonal(a, 0.0)
    elif kind == "star":
        a[0, 1:] = a[1:, 0] = 1.0
    return a.ravel()


def spectrum(kind, n):
    """Ascending Laplacian eigenvalues of graph(kind, n)."""
    if kind == "path":
        ev = [2.0 - 2.0 * math.cos(math.pi * k / n) for k in range(n)]
    elif kind == "cycle":
        ev = [2.0 - 2.0 * math.cos(2.0 * math.pi * k / n) for k in range(n)]
    elif kind == "complete":
        ev = [0.0] + [float(n)] * (n - 1)
    else:  # star
        ev = [0.0] + [1.0] * (n - 2) + [float(n)]
    return sorted(ev)
