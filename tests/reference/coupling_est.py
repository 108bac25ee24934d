"""Least-squares coupling estimation in plain loops, for bit-for-bit checks."""
import math


def wrap_step(d):
    while d > math.pi:
        d -= 2 * math.pi
    while d < -math.pi:
        d += 2 * math.pi
    return d


def ordered_sum(terms):
    total = 0.0
    for v in terms:
        total += v
    return total


def estimate(phases, omegas, n, t, dt):
    """phases oscillator-major n x t; the flat n x n estimate."""
    th = [phases[i * t:(i + 1) * t] for i in range(n)]
    out = [0.0] * (n * n)
    for i in range(n):
        y = [wrap_step(th[i][k + 1] - th[i][k]) / dt - omegas[i] for k in range(t - 1)]
        s = [[math.sin(th[a][k] - th[i][k]) for k in range(t - 1)] for a in range(n)]
        r = [ordered_sum(sa[k] * y[k] for k in range(t - 1)) for sa in s]
        g = [[ordered_sum(sa[k] * sb[k] for k in range(t - 1)) for sb in s] for sa in s]
        for c in range(n):  # elimination with partial pivoting, lowest row on ties
            p = max(range(c, n), key=lambda q: (abs(g[q][c]), -q))
            if abs(g[p][c]) < 1e-14:
                continue
            g[p], g[c], r[p], r[c] = g[c], g[p], r[c], r[p]
            for q in range(c + 1, n):
                f = g[q][c] / g[c][c]
                g[q][c:] = [g[q][j] - g[c][j] * f for j in range(c, n)]
                r[q] = r[q] - f * r[c]
        x = [0.0] * n
        for k in reversed(range(n)):
            if abs(g[k][k]) >= 1e-14:
                x[k] = ordered_sum([r[k]] + [-(g[k][j] * x[j]) for j in range(k + 1, n)]) / g[k][k]
        out[i * n:(i + 1) * n] = [0.0 if j == i else x[j] for j in range(n)]
    return out
