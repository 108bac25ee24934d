"""Hodge decomposition of edge flows with signed incidence matrices and
eigen-decomposition pseudo-inverses."""
import numpy as np


def pinv_apply(a, b):
    w, v = np.linalg.eigh(a)
    tol = 1e-9 * w[-1] if w[-1] > 0 else 0.0
    inv = np.where(w > tol, 1.0 / np.where(w > tol, w, 1.0), 0.0)
    return v @ (inv * (v.T @ b))


def decompose(knm, phases, n, edges, tris):
    """(gradient, curl, harmonic) per edge; edges a list of (s, d), tris of (a, b, c)."""
    k = np.asarray(knm).reshape(n, n)
    f = np.array([(k[s, d] + k[d, s]) * 0.5 * np.sin(phases[d] - phases[s]) for s, d in edges])
    b1 = np.zeros((n, len(edges)))  # node-by-edge: -1 at the source, +1 at the target
    for e, (s, d) in enumerate(edges):
        b1[s, e] -= 1.0
        b1[d, e] += 1.0
    g = b1.T @ pinv_apply(b1 @ b1.T, b1 @ f)
    index = {pair: e for e, pair in enumerate(edges)}
    b2 = np.zeros((len(edges), len(tris)))
    for t, (a, b, c) in enumerate(tris):
        b2[index[(a, b)], t] += 1.0
        b2[index[(b, c)], t] += 1.0
        b2[index[(a, c)], t] -= 1.0
    c = b2 @ pinv_apply(b2.T @ b2, b2.T @ f) if tris else np.zeros(len(edges))
    return f, g, c, f - g - c


def as_matrix(values, n, edges):
    m = np.zeros(n * n)
    for v, (s, d) in zip(values, edges):
        m[s * n + d], m[d * n + s] = v, -v
    return m
