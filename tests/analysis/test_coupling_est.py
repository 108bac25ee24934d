"""Coupling estimation from phase series, and the transfer-entropy adaptation
of a coupling matrix."""
import math
import os
import time

import numpy as np
import pytest

import qel_kernel as qk
from reference import coupling_est as ref
from support import internal_error


def euler_series(n, t, dt, seed):
    """Oscillator-major phases from forward Euler steps of the model."""
    rng = np.random.default_rng(seed)
    k, omegas = rng.uniform(-1.0, 1.0, (n, n)), rng.normal(1.0, 0.5, n)
    theta = np.empty((t, n))
    theta[0] = rng.uniform(0, 2 * np.pi, n)
    for s in range(t - 1):
        theta[s + 1] = theta[s] + dt * (omegas + (k * np.sin(theta[s][None, :] - theta[s][:, None])).sum(axis=1))
    return theta.T.ravel().copy(), omegas, k


@pytest.mark.parametrize(
    "t, phases_len, omegas_len, dt, bad",
    [(2, 6, 3, 0.1, None), (5, 14, 3, 0.1, None), (5, 15, 2, 0.1, None)]
    + [(5, 15, 3, dt, None) for dt in (0.0, -0.0, -0.1, math.inf, math.nan)]
    + [(5, 15, 3, 0.1, bad) for bad in ("phase nan", "phase inf", "omega nan")],
)
def test_screening_gives_zeros(t, phases_len, omegas_len, dt, bad):
    rng = np.random.default_rng(0)
    phases, omegas = rng.uniform(0, 6, phases_len), rng.uniform(0, 1, omegas_len)
    if bad:
        (phases if bad.startswith("phase") else omegas)[-1] = math.nan if bad.endswith("nan") else math.inf
    out = qk.estimate_coupling_rust(phases, omegas, 3, t, dt)
    assert out.dtype == np.float64 and out.tolist() == [0.0] * 9


@pytest.mark.parametrize("case", ["random", "wraps", "identical sources", "constant"])
def test_bit_for_bit(case):
    rng = np.random.default_rng(7)
    n, t, dt = (11 if case == "random" else 3), 40, 0.05  # 11: Gram rows in blocks of eight and a remainder
    theta = rng.uniform(-7.0, 7.0, (n, t))
    if case == "wraps":  # increments of exactly pi, of 3pi/2 (taken as -pi/2) and of many turns
        theta[0, 1], theta[1, 5], theta[2, 9] = theta[0, 0] + math.pi, theta[1, 4] + 1.5 * math.pi, theta[2, 8] + 40
    elif case == "identical sources":
        theta[2] = theta[1]
    elif case == "constant":
        theta[:] = 1.0
    phases, omegas = theta.ravel().copy(), rng.normal(0.0, 1.0, n)
    got = qk.estimate_coupling_rust(phases, omegas, n, t, dt)
    assert got.tolist() == ref.estimate(phases.tolist(), omegas.tolist(), n, t, dt)
    if case == "identical sources":  # the lower index takes the whole coupling: K01 = r1 / G11, K02 = 0
        s = np.sin(theta[1, :-1] - theta[0, :-1])
        d = (np.diff(theta[0]) + np.pi) % (2 * np.pi) - np.pi
        assert got[2] == 0.0 and got[1] == pytest.approx((s @ (d / dt - omegas[0])) / (s @ s), rel=1e-12)
    assert case != "constant" or not got.any()


def test_recovers_couplings_and_least_squares():
    phases, omegas, k = euler_series(5, 600, 0.01, 3)
    np.fill_diagonal(k, 0.0)
    assert np.abs(qk.estimate_coupling_rust(phases, omegas, 5, 600, 0.01) - k.ravel()).max() < 1e-8
    rng = np.random.default_rng(11)
    n, t, dt = 6, 80, 0.1
    theta = np.cumsum(rng.normal(0.0, 0.8, (n, t)), axis=1)
    got = qk.estimate_coupling_rust(theta.ravel().copy(), omegas[:1].repeat(n), n, t, dt).reshape(n, n)
    rates = ((np.diff(theta, axis=1) + np.pi) % (2 * np.pi) - np.pi) / dt - omegas[0]
    for i in range(n):
        others = np.arange(n) != i
        x = np.linalg.lstsq(np.sin(theta[others, :-1] - theta[i, :-1]).T, rates[i], rcond=None)[0]
        np.testing.assert_allclose(got[i, others], x, rtol=1e-9)
        assert got[i, i] == 0.0


def test_sizes_and_huge_increments():
    assert qk.estimate_coupling_rust(np.zeros(0), np.zeros(0), 0, 5, 0.1).tolist() == []
    assert qk.estimate_coupling_rust(np.zeros(4), np.zeros(1), 1, 4, 0.1).tolist() == [0.0]
    phases, omegas, _ = euler_series(2, 20, 0.01, 1)
    assert qk.estimate_coupling_rust(phases, omegas, 2, 20, 5e-324).any()  # a subnormal dt is used
    for n in (2**30, 2**32 + 3):  # n*n beyond any buffer
        internal_error(qk.estimate_coupling_rust, np.zeros(3), np.zeros(3), n, 5, 0.1)
    if "libasan" not in os.environ.get("LD_PRELOAD", ""):  # the sanitizer aborts instead
        with pytest.raises(MemoryError):  # 2^58 zeros: representable, not allocatable
            qk.estimate_coupling_rust(np.zeros(3), np.zeros(3), 2**29, 5, 0.1)
    start = time.perf_counter()
    out = qk.estimate_coupling_rust(np.array([0.0, 1e300, -1e300, 0, 0.5, 1e308, -1e308, 0, 1, 1.5, 2, 2.5]),
                                    np.zeros(3), 3, 4, 0.1)
    assert time.perf_counter() - start < 1.0
    assert np.isnan(out[[3, 5]]).all()  # the infinite increment of oscillator 1 reaches its row as NaN


@pytest.mark.parametrize("lr, decay", [(0.5, 0.1), (0.0, 0.0), (2.0, 1.0), (-30.0, 0.2), (math.nan, 0.0)])
def test_adaptation_matches_where(lr, decay):
    rng = np.random.default_rng(2)
    n = 7
    knm, te = rng.normal(0.0, 1.0, n * n), rng.uniform(0.0, 1.0, n * n)
    knm[3], te[10], knm[20], te[20] = math.nan, math.nan, -0.0, 0.0  # NaN entries; v = -0.0
    v = te * lr + knm * (1.0 - decay)  # entry by entry, untransposed
    expected = np.where(v > 0.0, v, 0.0)
    expected[:: n + 1] = 0.0
    assert qk.te_adapt_coupling_rust(knm, te, n, lr, decay).tobytes() == expected.tobytes()  # +0.0, never -0.0


def test_adaptation_lengths():
    knm, te = np.arange(9.0), np.ones(9)
    full = qk.te_adapt_coupling_rust(knm, te, 3, 1.0, 0.5).tolist()
    # The last diagonal entry is never read; extra entries are ignored.
    assert qk.te_adapt_coupling_rust(knm[:8].copy(), np.ones(12), 3, 1.0, 0.5).tolist() == full
    for k, e, n in ((knm[:7].copy(), te, 3), (knm, te[:7].copy(), 3), (knm, te, 10**6), (knm, te, 2**63)):
        internal_error(qk.te_adapt_coupling_rust, k, e, n, 1.0, 0.5)
    assert qk.te_adapt_coupling_rust(np.zeros(0), np.zeros(0), 0, 1.0, 0.5).tolist() == []
    assert qk.te_adapt_coupling_rust(np.zeros(0), np.zeros(0), 1, 1.0, 0.5).tolist() == [0.0]
