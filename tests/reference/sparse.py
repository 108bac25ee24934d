"""UPDE on compressed sparse rows, edge by edge in plain Python floats.

d theta_i/dt = omega_i + sum over entries k of row i of K_k sin(theta_{col_k} - theta_i - alpha_k)
               + zeta sin(psi - theta_i)
"""
import math

import numpy as np

from reference.integrators import euler as euler_step, wrap


def csr_from_dense(knm, alpha, n):
    """Row-major n*n matrices with every entry stored, zeros included, columns ascending."""
    cols = np.tile(np.arange(n, dtype=np.uintp), n)
    return np.arange(n + 1, dtype=np.uintp) * np.uintp(n), cols, np.array(knm, dtype=float), np.array(alpha, dtype=float)


def euler(theta, omegas, row_ptr, col, knm, alpha, zeta, psi, dt, substeps=1):
    """Euler in equal substeps, then wrap. Each row's sum starts at 0.0 and adds
    sin((theta_j - theta_i) - alpha) * K per stored entry in storage order; the
    drive enters as zeta sin(psi) cos(theta_i) - zeta cos(psi) sin(theta_i)."""
    za, zb = zeta * math.sin(psi), zeta * math.cos(psi)

    def f(y):
        d = []
        for i, yi in enumerate(y.tolist()):
            s = 0.0
            for e in range(int(row_ptr[i]), int(row_ptr[i + 1])):
                s += math.sin((y[int(col[e])] - yi) - alpha[e]) * knm[e]
            drive = math.cos(yi) * za - math.sin(yi) * zb
            d.append(drive + (s + omegas[i]) if zeta != 0.0 else s + omegas[i])
        return np.array(d)

    y = np.array(theta, dtype=float)
    for _ in range(substeps):
        y = euler_step(f, y, dt / substeps)
    return wrap(y)
