"""Local order parameters of coupled neighbourhoods."""
import math

import numpy as np


def local_order(phases, knm, n):
    """Plain loops in the stated order, for bit-for-bit checks."""
    out = []
    for i in range(n):
        terms = [phases[j] - phases[i] for j in range(n) if knm[i * n + j] > 0.0]
        s = c = 0.0
        for d in terms:
            s, c = s + math.sin(d), c + math.cos(d)
        out.append(math.sqrt((s / len(terms)) ** 2 + (c / len(terms)) ** 2) if terms else 0.0)
    return out


def local_order_numpy(phases, knm, n):
    """|mean of exp(i(theta_j - theta_i))| over the positive couplings of each row."""
    mask = knm[: n * n].reshape(n, n) > 0.0
    z = np.where(mask, np.exp(1j * (phases[None, :n] - phases[:n, None])), 0.0).sum(axis=1)
    return np.abs(z) / np.maximum(mask.sum(axis=1), 1)
