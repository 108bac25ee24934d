"""Least-squares coupling estimation, transcribed in plain loops for
bit-for-bit checks on small inputs."""
import math


def estimate(phases, omegas, n, t, dt):
    """phases oscillator-major n x t; returns the flat n x n estimate."""
    m = t - 1
    deriv = []
    for i in range(n):
        for k in range(m):
            d = phases[i * t + k + 1] - phases[i * t + k]
            while d > math.pi:
                d -= 2 * math.pi
            while d < -math.pi:
                d += 2 * math.pi
            deriv.append(d / dt)
    out = [0.0] * (n * n)
    for i in range(n):
        y = [deriv[i * m + k] - omegas[i] for k in range(m)]
        s = [[math.sin(phases[a * t + k] - phases[i * t + k]) for k in range(m)] for a in range(n)]
        r = [sum_in_order(s[a][k] * y[k] for k in range(m)) for a in range(n)]
        g = [[sum_in_order(s[a][k] * s[b][k] for k in range(m)) for b in range(n)] for a in range(n)]
        x = solve(g, r, n)
        for j in range(n):
            out[i * n + j] = 0.0 if j == i else x[j]
    return out


def sum_in_order(terms):
    total = 0.0
    for v in terms:
        total += v
    return total


def solve(g, r, n):
    for c in range(n):
        best, p = 0.0, c
        for q in range(c, n):
            if abs(g[q][c]) > best:
                best, p = abs(g[q][c]), q
        if best < 1e-14:
            continue
        g[p], g[c] = g[c], g[p]
        r[p], r[c] = r[c], r[p]
        for q in range(c + 1, n):
            f = g[q][c] / g[c][c]
            for j in range(c, n):
                g[q][j] = g[q][j] - g[c][j] * f
            r[q] = r[q] - f * r[c]
    x = [0.0] * n
    for k in range(n - 1, -1, -1):
        if abs(g[k][k]) < 1e-14:
            continue
        v = r[k]
        for j in range(k + 1, n):
            v = v - g[k][j] * x[j]
        x[k] = v / g[k][k]
    return x
