"""Koopman EDMD against NumPy's normal equations with BLAS on one thread."""
import os

os.environ["OPENBLAS_NUM_THREADS"] = "1"  # before NumPy loads its BLAS
os.environ["OMP_NUM_THREADS"] = "1"

import numpy as np  # noqa: E402

import qel_kernel as qk  # noqa: E402
from harness import compare, header  # noqa: E402


def np_edmd(x, u, y, s, reg):
    z = np.hstack([x, u])
    sol = np.linalg.solve(z.T @ z + reg * np.eye(z.shape[1]), z.T @ y)
    w = np.linalg.solve(x.T @ x + reg * np.eye(x.shape[1]), x.T @ s)
    n = x.shape[1]
    return sol[:n].T.ravel(), sol[n:].T.ravel(), w.T.ravel()


def main():
    header("Koopman EDMD (NumPy with one BLAS thread)")
    k, n, m, ns = 5000, 32, 4, 6
    rng = np.random.default_rng(0)
    x, u, y, s = (rng.normal(size=(k, c)) for c in (n, m, n, ns))
    flat = [a.ravel() for a in (x, u, y, s)]
    for got, want in zip(qk.koopman_edmd_solve_rust(*flat, k, n, m, ns, 1e-3), np_edmd(x, u, y, s, 1e-3)):
        np.testing.assert_allclose(got, want, rtol=1e-8, atol=1e-12)
    # Ours within 2x of NumPy: a ratio of at least 0.5.
    compare(f"koopman_edmd_solve_rust k={k} n_lift={n} m={m} n_state={ns}",
            lambda: qk.koopman_edmd_solve_rust(*flat, k, n, m, ns, 1e-3), lambda: np_edmd(x, u, y, s, 1e-3), 0.5)


if __name__ == "__main__":
    main()
