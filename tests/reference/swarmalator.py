"""Swarmalators in plain Python floats, from the equations (r_im = sqrt(|x_m - x_i|^2 + 1e-6))

    dx_i/dt     = (1/n) sum_{m != i} (x_m - x_i) ((a + j cos(theta_m - theta_i)) / r_im - b / r_im^2)
    dtheta_i/dt = omega_i + (k/n) sum_{m != i} sin(theta_m - theta_i) / r_im,

one Euler step with every sum in the promised order (m ascending, coordinates in order), the pairwise cosine and
sine of the phase difference formed from each agent's sine and cosine, so results compare bit for bit.
"""
import math

from reference.integrators import wrap

EPS = 1e-6


def step(pos, phases, omegas, dim, dt, a, b, j, k):
    """Returns (new positions, new phases) as lists; positions agent-major, never wrapped."""
    n = len(phases)
    inv_n = 1.0 / n
    s = [math.sin(t) for t in phases]
    c = [math.cos(t) for t in phases]
    x = [list(pos[i * dim:(i + 1) * dim]) for i in range(n)]
    vel, dphase = [], []
    for i in range(n):
        v = [0.0] * dim
        acc = omegas[i]
        for m in range(n):
            if m == i:
                continue
            diffs = [x[m][d] - x[i][d] for d in range(dim)]
            d2 = 0.0
            for df in diffs:
                d2 = d2 + df * df
            d2 = d2 + EPS
            inv_r = 1.0 / math.sqrt(d2)
            att = ((s[i] * s[m] + c[i] * c[m]) * j + a) * inv_r
            rep = b / d2
            for d, df in enumerate(diffs):
                v[d] = (att * df - df * rep) + v[d]
            acc = acc + inv_r * ((k * inv_n) * (s[m] * c[i] - c[m] * s[i]))
        vel.append(v)
        dphase.append(acc)
    new_pos = [x[i][d] + (vel[i][d] * dt) * inv_n for i in range(n) for d in range(dim)]
    new_phases = [wrap(phases[i] + dphase[i] * dt) for i in range(n)]
    return new_pos, new_phases


def order_parameter(phases):
    """(R, psi) of the phases, sums of cosines and sines from -0.0."""
    n = len(phases)
    sc = ss = -0.0
    for t in phases:
        sc = sc + math.cos(t)
        ss = ss + math.sin(t)
    cm, sm = sc / n, ss / n
    return min(1.0, math.sqrt(cm * cm + sm * sm)), wrap(math.atan2(sm, cm))
