"""The Kuramoto-Sakaguchi relaxation, the coupling grid and the seeded draws
of initial phases, with plain loops and the math module, for bit-for-bit
comparison."""
import math

from reference import mmix
from reference.integrators import TWO_PI

THRESHOLD = 0.1


def kuramoto_step(phases, omegas, knm, alpha, n, k_scale, dt):
    old = list(phases)
    for i in range(n):
        s = 0.0
        for j in range(n):
            k = knm[i * n + j] * k_scale
            if abs(k) < 1e-30:
                continue
            s = s + k * math.sin((old[j] - old[i]) - alpha[i * n + j])
        phases[i] = old[i] + dt * (s + omegas[i])


def magnitude(phases):
    c = s = 0.0
    for x in phases:
        c += math.cos(x)
        s += math.sin(x)
    m = float(len(phases))
    c /= m
    s /= m
    return math.sqrt(c * c + s * s)


def steady_state_r(phases_init, omegas, knm, alpha, n, k_scale, dt, n_transient, n_measure):
    phases = [float(x) for x in phases_init]
    omegas, knm, alpha = list(omegas), list(knm), list(alpha)
    for _ in range(n_transient):
        kuramoto_step(phases, omegas, knm, alpha, n, k_scale, dt)
    total = 0.0
    for _ in range(n_measure):
        kuramoto_step(phases, omegas, knm, alpha, n, k_scale, dt)
        if phases:
            total += magnitude(phases)
    return total / n_measure if n_measure else math.nan


def grid(k_min, k_max, n_points):
    if n_points == 0:
        return []
    if n_points == 1:
        return [k_min]
    d = k_max - k_min
    return [((float(i) * d) / float(n_points - 1)) + k_min for i in range(n_points)]


def first_upward_crossing(ks, rs):
    for i in range(len(rs) - 1):
        if rs[i] < THRESHOLD and rs[i + 1] >= THRESHOLD:
            f = (THRESHOLD - rs[i]) / (rs[i + 1] - rs[i])
            return ((ks[i + 1] - ks[i]) * f) + ks[i]
    return math.nan


def bisection(r_at, tol):
    """The critical-coupling search over a function of the coupling scale."""
    if r_at(20.0) < THRESHOLD:
        return math.nan
    lo, hi = 0.0, 20.0
    for _ in range(30):
        mid = (hi + lo) * 0.5
        if r_at(mid) < THRESHOLD:
            lo = mid
        else:
            hi = mid
        if tol > hi - lo:
            break
    return (lo + hi) * 0.5


def lcg_phases(seed, count):
    """count phases in [0, 2pi) from the top 31 bits of successive MMIX states."""
    state = seed
    out = []
    for _ in range(count):
        state = mmix(state)
        out.append(((state >> 33) * 2.0**-31) * TWO_PI)
    return out
