"""What the extended-stepper references share: the caches, the row sums in the three orders, the drive.

Term matrices are built elementwise with NumPy (every product and difference rounded on its own, as in our
code) and summed column by column in the stated order, so the results compare bit for bit. Sines of the
general path come from the `math` module, which gives the C library's bits.
"""
import math

import numpy as np


def caches(theta):
    return (np.array([math.sin(t) for t in theta], dtype=float),
            np.array([math.cos(t) for t in theta], dtype=float))


def sin_cos_of(arg):
    """Elementwise math.sin and math.cos of a matrix."""
    flat = arg.ravel()
    return (np.array([math.sin(x) for x in flat]).reshape(arg.shape),
            np.array([math.cos(x) for x in flat]).reshape(arg.shape))


def row_sums(terms, order="plain"):
    """Sums of each row of `terms` in one of the three orders: "plain" (index order from 0), "blocks8" (each
    whole block of eight from its first term, then into the total) or "interleaved8" (partial l takes the
    columns l, l + 8, ... of the whole blocks; partials added from 0 in order 0 to 7)."""
    n_rows, n = terms.shape
    body = n - n % 8
    total = np.zeros(n_rows)
    if order == "blocks8":
        for b in range(0, body, 8):
            block = terms[:, b]
            for m in range(1, 8):
                block = block + terms[:, b + m]
            total = total + block
    elif order == "interleaved8":
        partials = [np.zeros(n_rows) for _ in range(8)]
        for j in range(body):
            partials[j % 8] = partials[j % 8] + terms[:, j]
        for p in partials:
            total = total + p
    else:
        body = 0
    for j in range(body, n):
        total = total + terms[:, j]
    return total


def fast_sine(s, c):
    """sin(theta_j - theta_i) as (s_j c_i - c_j s_i), entry [i, j]."""
    return s[None, :] * c[:, None] - c[None, :] * s[:, None]


def drive(s, c, zeta, psi):
    """zeta sin(psi - theta_i) as c_i (zeta sin psi) - s_i (zeta cos psi); None when zeta == 0."""
    if zeta == 0.0:
        return None
    return c * (zeta * math.sin(psi)) - s * (zeta * math.cos(psi))
