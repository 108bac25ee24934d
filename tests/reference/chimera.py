"""Local order parameters of coupled neighbourhoods."""
import math

import numpy as np


def local_order(phases, knm, n):
    """Plain loops in the stated order, for bit-for-bit checks."""
    out = []
    for i in range(n):
        s = c = 0.0
        count = 0
        for j in range(n):
            if knm[i * n + j] > 0.0:
                d = phases[j] - phases[i]
                s += math.sin(d)
                c += math.cos(d)
                count += 1
        out.append(math.sqrt((s / count) ** 2 + (c / count) ** 2) if count else 0.0)
    return out


def local_order_numpy(phases, knm, n):
    """Mean of exp(i(theta_j - theta_i)) over the positive couplings of each row."""
    mask = np.asarray(knm[: n * n]).reshape(n, n) > 0.0
    z = np.exp(1j * (phases[None, :n] - phases[:n, None]))
    count = mask.sum(axis=1)
    mean = np.where(mask, z, 0.0).sum(axis=1) / np.maximum(count, 1)
    return np.where(count > 0, np.abs(mean), 0.0)
