"""Analytic-signal phases by direct transforms over every bin, with the math module only."""
import math

from reference.integrators import TWO_PI, wrap


def extract_phases(x, fs):
    n = len(x)
    if n < 4:
        return [], [], [], 0.0
    X = []
    for k in range(n):
        re = im = 0.0
        for j in range(n):
            a = (j * (k * -TWO_PI)) / n
            re += x[j] * math.cos(a)
            im += x[j] * math.sin(a)
        X.append((re, im))
    m = n // 2
    top = m - 1 if n % 2 == 0 else m
    H = [X[0]] + [(re + re, im + im) for re, im in X[1:top + 1]] + X[top + 1:m + 1]
    H += [(0.0, 0.0)] * (n - len(H))
    inv_n = 1.0 / n
    u, phases, amps = [], [], []
    for t in range(n):
        re = im = 0.0
        for k, (p, q) in enumerate(H):
            b = ((k * TWO_PI) * t) / n
            c, s = math.cos(b), math.sin(b)
            re += p * c - q * s
            im += q * c + p * s
        re, im = re * inv_n, im * inv_n
        u.append(math.atan2(im, re))
        phases.append(wrap(u[-1]))
        amps.append(math.sqrt(re * re + im * im))
    for t in range(1, n):
        d = u[t] - u[t - 1]
        while d > math.pi:
            d += -TWO_PI
        while d < -math.pi:
            d += TWO_PI
        u[t] = u[t - 1] + d
    freqs = [0.0] + [((u[t] - u[t - 1]) * fs) / TWO_PI for t in range(1, n)]
    best, best_k = 0.0, 1
    for k in range(1, m + 1):
        mag = math.sqrt(X[k][0] * X[k][0] + X[k][1] * X[k][1])
        if mag > best:
            best, best_k = mag, k
    return phases, amps, freqs, (fs * best_k) / n
