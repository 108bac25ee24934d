"""UPDE on compressed sparse rows, in NumPy.

d theta_i/dt = omega_i + sum over entries k of row i of K_k sin(theta_{col_k} - theta_i - alpha_k)
               + zeta sin(psi - theta_i)
"""
import numpy as np

TWO_PI = 6.283185307179586


def csr_from_dense(knm, alpha, n, keep_zeros=True):
    """Row-major n*n matrices as (row_ptr, col_indices, knm_values, alpha_values), columns ascending."""
    k = np.asarray(knm, dtype=float).reshape(n, n)
    a = np.asarray(alpha, dtype=float).reshape(n, n)
    mask = np.ones((n, n), bool) if keep_zeros else k != 0.0
    rows, cols = np.nonzero(mask)
    row_ptr = np.zeros(n + 1, dtype=np.uintp)
    np.cumsum(mask.sum(axis=1), out=row_ptr[1:])
    return row_ptr, cols.astype(np.uintp), k[rows, cols].copy(), a[rows, cols].copy()


def rows_of(row_ptr):
    """Row index of every stored entry."""
    counts = np.diff(np.asarray(row_ptr, dtype=np.int64))
    return np.repeat(np.arange(len(counts)), counts)


def derivative(theta, omegas, row_ptr, col, knm, alpha, zeta, psi):
    theta = np.asarray(theta, dtype=float)
    rows = rows_of(row_ptr)
    col = np.asarray(col, dtype=np.int64)
    terms = np.asarray(knm) * np.sin(theta[col] - theta[rows] - np.asarray(alpha))
    out = np.asarray(omegas, dtype=float).copy()
    np.add.at(out, rows, terms)
    if zeta != 0.0:
        out += zeta * np.sin(psi - theta)
    return out


def wrap(x):
    r = np.fmod(x, TWO_PI)
    return np.where(r < 0.0, r + TWO_PI, r)


def step(method, theta, omegas, row_ptr, col, knm, alpha, zeta, psi, dt, substeps=1):
    """Euler or RK4 in equal substeps, then wrap."""
    f = lambda y: derivative(y, omegas, row_ptr, col, knm, alpha, zeta, psi)  # noqa: E731
    y = np.array(theta, dtype=float)
    h = dt / substeps
    for _ in range(substeps):
        if method == "euler":
            y = y + h * f(y)
        else:
            k1 = f(y)
            k2 = f(y + h / 2 * k1)
            k3 = f(y + h / 2 * k2)
            k4 = f(y + h * k3)
            y = y + h / 6 * (k1 + 2 * k2 + 2 * k3 + k4)
    return wrap(y)
