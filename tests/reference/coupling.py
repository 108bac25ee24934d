"""Coupling construction, projection and distance weighting: scalar math in the stated order, for bitwise checks."""
import math


def build_knm(n, base_strength, decay_alpha):
    return [math.exp(float(abs(i - j)) * (-decay_alpha)) * base_strength if i != j else 0.0
            for i in range(n) for j in range(n)]


def project_knm(knm, n):
    k = [float(v) for v in knm]
    for i in range(n):
        for j in range(i + 1, n):
            a, b = k[i * n + j], k[j * n + i]
            v = (a + b) * 0.5
            if not math.isfinite(v):
                v = a / 2 + b / 2
            k[i * n + j] = k[j * n + i] = v
    return [0.0 if v < 0.0 or idx % (n + 1) == 0 else v for idx, v in enumerate(k)]


def flat_weight(code, d, k, p, length, eps):
    if code == 0:
        return k / (d + 1.0)
    if code == 1:
        return math.exp((-d) / length) * k
    if code == 2:
        return math.pow((d / length) + 1.0, -p) * k
    return k / math.sqrt(d * d + eps)


def spatial_modulate(knm, positions, n, dim, k, code, p, length, eps):
    out = [0.0] * (n * n)
    for i in range(n):
        for j in range(n):
            if i != j:
                s = 0.0
                for t in range(dim):
                    diff = positions[i * dim + t] - positions[j * dim + t]
                    s += diff * diff
                out[i * n + j] = flat_weight(code, math.sqrt(s), k, p, length, eps) * knm[i * n + j]
    return out


def axial_weight(code, d, k, p, length, eps):
    if code == 1:
        return math.exp((-abs(d)) / length) * k
    if code == 2:
        return k / math.pow(abs(d) / length + 1.0, p)
    if code == 3:
        return k / math.sqrt(d * d + eps)
    return k / (abs(d) + 1.0)


def axial_modulate(positions, knm, n, k, code, p, length, eps):
    return [knm[i * n + j] * axial_weight(code, positions[i] - positions[j], k, p, length, eps) if i != j else 0.0
            for i in range(n) for j in range(n)]


def doppler_term(v, knm, n, strength, eps):
    out = [0.0] * n
    for i in range(n):
        c = abs(v[i]) + eps
        w_sum = s = 0.0
        for j in range(n):
            kij = knm[i * n + j]
            if j == i or kij == 0.0:
                continue
            w = abs(kij)
            w_sum += w
            s += ((v[i] - v[j]) * w) / c
        out[i] = (s * strength) / w_sum if w_sum > 0.0 else 0.0
    return out
