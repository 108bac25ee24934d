"""Langevin noise, phase entropy, effective temperature and entropy production, from their definitions."""
import math

from reference import mmix
from reference.integrators import TWO_PI


def lcg_uniform53(state):
    state = mmix(state)
    return state, (state >> 11) * 2.0**-53


def add_langevin_noise(z, temperature, dt, seed):
    z = list(z)
    if not z or temperature <= 0 or dt <= 0:
        return z
    sigma = math.sqrt((temperature + temperature) * dt)
    state = seed
    for k in range(0, len(z), 2):
        state, u1 = lcg_uniform53(state)
        state, u2 = lcg_uniform53(state)
        r = math.sqrt(-2.0 * math.log(max(u1, 1e-30)))
        angle = TWO_PI * u2
        z[k] += math.cos(angle) * r * sigma
        if k + 1 < len(z):
            z[k + 1] += math.sin(angle) * r * sigma
    return z


def phase_bin_counts(phases, n_bins):
    width = TWO_PI / n_bins
    counts = {}
    for x in phases:
        w = math.fmod(math.fmod(x, TWO_PI) + TWO_PI, TWO_PI) if math.isfinite(x) else math.nan
        q = w / width
        b = 0 if not q > 0 else min(int(q), n_bins - 1)
        counts[b] = counts.get(b, 0) + 1
    return [counts[b] for b in sorted(counts)]


def entropy_from_phases(phases, n_bins=36):
    if not len(phases) or n_bins == 0:
        return 0.0
    h = 0.0
    for c in phase_bin_counts(phases, n_bins):
        p = c / len(phases)
        h -= p * math.log(p)
    return h


def effective_temperature(costs):
    n = len(costs)
    if n < 2:
        return 0.0
    total = 0.0  # a plain loop: sum() of floats is compensated from Python 3.12 on
    for c in costs:
        total += c
    mean = total / n
    if abs(mean) < 1e-30:
        return 0.0
    sq = 0.0
    for c in costs:
        sq += (c - mean) * (c - mean)
    var = sq / (n - 1)
    return var / (abs(mean) + abs(mean))


def entropy_production_rate(phases, omegas, knm, alpha, dt):
    n = len(phases)
    if dt <= 0.0 or n == 0 or len(omegas) != n or len(knm) != n * n:
        return 0.0
    a = alpha / n
    total = 0.0
    for i in range(n):
        s = 0.0
        for j in range(n):
            s += math.sin(phases[j] - phases[i]) * knm[i * n + j]
        v = s * a + omegas[i]
        total += v * v
    return dt * total
