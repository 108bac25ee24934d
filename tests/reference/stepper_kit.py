"""What the extended phase steppers share, in plain Python floats: the pairwise coupling row in its summation orders
and the drive, from

    P_i = sum_j K_ij sin(theta_j - theta_i - alpha_ij),     D_i = zeta sin(psi - theta_i),

every sum in the promised order, so results compare bit for bit (IEEE doubles, the C library's sin/cos, no fusing).
"""
import math


def zero_lag(alpha):
    return all(a == 0.0 for a in alpha)


def pairwise_general(theta, i, krow, arow):
    s = 0.0
    for j in range(len(krow)):
        s = s + math.sin((theta[j] - theta[i]) - arow[j]) * krow[j]
    return s


def pairwise_fast(sin_t, cos_t, i, krow, blocks=False):
    """sum_j (s_j c_i - c_j s_i) K_ij; with `blocks`, eight products summed left to right, each block's total added
    to the running sum, the tail one product at a time."""
    n = len(krow)
    p = [(sin_t[j] * cos_t[i] - cos_t[j] * sin_t[i]) * krow[j] for j in range(n)]
    s = 0.0
    body = n - n % 8 if blocks else 0
    for b in range(0, body, 8):
        t = p[b]
        for q in p[b + 1:b + 8]:
            t = t + q
        s = s + t
    for q in p[body:]:
        s = s + q
    return s


def drive_factors(zeta, psi):
    """(zeta sin psi, zeta cos psi), or None when zeta == 0.0 (no drive)."""
    return None if zeta == 0.0 else (zeta * math.sin(psi), zeta * math.cos(psi))


def drive(factors, s_i, c_i):
    zs, zc = factors
    return c_i * zs - s_i * zc
