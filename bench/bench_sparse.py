"""Sparse (compressed-row) UPDE: one Euler step of n = 100000 oscillators, 10 edges a row, against scipy.sparse
or NumPy and a parallel Numba loop of the same formula (prange over rows, math.sin; the Euler step and the wrap,
without the checks). Run with /work/venv-bench/bin/python for the Numba peer."""
import math

import numpy as np
import scipy.sparse as sp

import qel_kernel as qk
from harness import TWO_PI, compare_peers, cores, numba
from harness import np_wrap as wrap


def numba_steps(dt):
    """Euler steps with and without lags as parallel Numba loops, or (None, None)."""
    nb = numba()
    if nb is None:
        return None, None

    @nb.njit(parallel=True)
    def zero_lag(phases, omegas, row_ptr, cols, knm, zeta, psi):
        n = phases.size
        sn, cs, out = np.empty(n), np.empty(n), np.empty(n)
        for j in nb.prange(n):
            sn[j] = math.sin(phases[j])
            cs[j] = math.cos(phases[j])
        for i in nb.prange(n):
            s = 0.0
            for e in range(row_ptr[i], row_ptr[i + 1]):
                j = cols[e]
                s += (sn[j] * cs[i] - cs[j] * sn[i]) * knm[e]
            x = phases[i] + dt * (omegas[i] + s + zeta * math.sin(psi - phases[i]))
            r = np.fmod(x, TWO_PI)
            out[i] = r + TWO_PI if r < 0.0 else r
        return out

    @nb.njit(parallel=True)
    def lagged(phases, omegas, row_ptr, cols, knm, zeta, psi, alpha):
        n = phases.size
        out = np.empty(n)
        for i in nb.prange(n):
            ti = phases[i]
            s = 0.0
            for e in range(row_ptr[i], row_ptr[i + 1]):
                s += knm[e] * math.sin(phases[cols[e]] - ti - alpha[e])
            x = ti + dt * (omegas[i] + s + zeta * math.sin(psi - ti))
            r = np.fmod(x, TWO_PI)
            out[i] = r + TWO_PI if r < 0.0 else r
        return out

    return zero_lag, lagged


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
    rp64, cols64 = row_ptr.astype(np.int64), cols.astype(np.int64)
    nb_zero, nb_lagged = numba_steps(dt)

    def scipy_euler():
        s, c = np.sin(phases), np.cos(phases)
        d = (matrix @ s) * c - (matrix @ c) * s + omegas + (c * zs - s * zc)
        return wrap(phases + dt * d)

    def numpy_lagged_euler(alpha):
        terms = knm * np.sin(phases[cols] - phases[rows] - alpha)
        d = np.add.reduceat(terms, starts) + omegas + zeta * np.sin(psi - phases)
        return wrap(phases + dt * d)

    def checked(fn, ours):
        if fn is not None:
            assert np.allclose(fn(), ours, atol=1e-12)
        return fn

    print(f"\n## sparse UPDE, n={n}, {per_row} edges a row, one Euler step; ratio = their time / ours "
          f"(cores available: {cores()}{'' if nb_zero else ', numba not installed'})")
    stepper = qk.PySparseUPDEStepper(n, dt=dt)
    zero = np.zeros(n * per_row)
    k = knm.copy()
    ours = stepper.step(phases, omegas, row_ptr, cols, k, zeta, psi, zero)
    assert np.allclose(ours, scipy_euler(), atol=1e-12)
    peer = nb_zero and (lambda: nb_zero(phases, omegas, rp64, cols64, knm, zeta, psi))
    compare_peers("zero lags", lambda: stepper.step(phases, omegas, row_ptr, cols, k, zeta, psi, zero),
                  {"scipy.sparse": scipy_euler, "Numba": checked(peer, ours)}, {"scipy.sparse": 3, "Numba": 1.0})
    alpha = rng.uniform(-0.5, 0.5, n * per_row)
    ours = stepper.step(phases, omegas, row_ptr, cols, k, zeta, psi, alpha)
    assert np.allclose(ours, numpy_lagged_euler(alpha), atol=1e-12)
    peer = nb_lagged and (lambda: nb_lagged(phases, omegas, rp64, cols64, knm, zeta, psi, alpha))
    compare_peers("lags", lambda: stepper.step(phases, omegas, row_ptr, cols, k, zeta, psi, alpha),
                  {"NumPy gather/sin/reduceat": lambda: numpy_lagged_euler(alpha), "Numba": checked(peer, ours)},
                  {"NumPy gather/sin/reduceat": 3, "Numba": 1.0})


if __name__ == "__main__":
    main()
