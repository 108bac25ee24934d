"""Sparse (compressed-row) UPDE: one Euler step of n = 100000 oscillators, 10 edges a row."""
import numpy as np
import scipy.sparse as sp

import qel_kernel as qk
from harness import TWO_PI, compare, header
from harness import np_wrap as wrap


def main():
    n, per_row, dt, zeta, psi = 100_000, 10, 0.01, 0.5, 1.0
    rng = np.random.default_rng(0)
    row_ptr = np.arange(0, n * per_row + 1, per_row, dtype=np.uintp)
    cols = rng.integers(0, n, n * per_row).astype(np.uintp)
    knm = rng.uniform(0.0, 1.0, n * per_row)
    phases = rng.uniform(0.0, TWO_PI, n)
    omegas = rng.normal(0.0, 1.0, n)
    rows = np.repeat(np.arange(n), per_row)
    starts = row_ptr[:-1].astype(np.intp)
    matrix = sp.csr_matrix((knm, cols.astype(np.int64), row_ptr.astype(np.int64)), shape=(n, n))
    zs, zc = zeta * np.sin(psi), zeta * np.cos(psi)

    def scipy_euler():
        s, c = np.sin(phases), np.cos(phases)
        d = (matrix @ s) * c - (matrix @ c) * s + omegas + (c * zs - s * zc)
        return wrap(phases + dt * d)

    def numpy_lagged_euler(alpha):
        terms = knm * np.sin(phases[cols] - phases[rows] - alpha)
        d = np.add.reduceat(terms, starts) + omegas + zeta * np.sin(psi - phases)
        return wrap(phases + dt * d)

    header(f"sparse UPDE, n={n}, {per_row} edges a row, one Euler step")
    stepper = qk.PySparseUPDEStepper(n, dt=dt)
    zero = np.zeros(n * per_row)
    k = knm.copy()
    assert np.allclose(stepper.step(phases, omegas, row_ptr, cols, k, zeta, psi, zero), scipy_euler(), atol=1e-12)
    compare("zero lags vs scipy.sparse mat-vec", lambda: stepper.step(phases, omegas, row_ptr, cols, k, zeta, psi, zero),
            scipy_euler, target=1.0)
    alpha = rng.uniform(-0.5, 0.5, n * per_row)
    assert np.allclose(stepper.step(phases, omegas, row_ptr, cols, k, zeta, psi, alpha), numpy_lagged_euler(alpha),
                       atol=1e-12)
    compare("lags vs NumPy gather/sin/reduceat", lambda: stepper.step(phases, omegas, row_ptr, cols, k, zeta, psi, alpha),
            lambda: numpy_lagged_euler(alpha), target=1.0)


if __name__ == "__main__":
    main()
