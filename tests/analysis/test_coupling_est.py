"""Coupling estimation from phase series, and the transfer-entropy adaptation
of a coupling matrix."""
import math
import os
import subprocess
import sys
import time

import numpy as np
import pytest

import qel_kernel as qk
from reference import coupling_est as ref


def internal_error(fn, *args):
    with pytest.raises(BaseException) as info:
        fn(*args)
    assert type(info.value).__name__ == "PanicException"


def euler_series(n, t, dt, seed, knm=None):
    """Oscillator-major phases from forward Euler steps of the model."""
    rng = np.random.default_rng(seed)
    k = rng.uniform(-1.0, 1.0, (n, n)) if knm is None else knm
    omegas = rng.normal(1.0, 0.5, n)
    theta = np.empty((t, n))
    theta[0] = rng.uniform(0, 2 * np.pi, n)
    for s in range(t - 1):
        theta[s + 1] = theta[s] + dt * (omegas + (k * np.sin(theta[s][None, :] - theta[s][:, None])).sum(axis=1))
    return theta.T.ravel().copy(), omegas, k


@pytest.mark.parametrize(
    "n, t, phases_len, omegas_len, dt, bad",
    [(3, 2, 6, 3, 0.1, None), (3, 5, 14, 3, 0.1, None), (3, 5, 15, 2, 0.1, None)]
    + [(3, 5, 15, 3, dt, None) for dt in (0.0, -0.0, -0.1, math.inf, math.nan)]
    + [(3, 5, 15, 3, 0.1, bad) for bad in ("phase nan", "phase inf", "omega nan")],
)
def test_screening_gives_zeros(n, t, phases_len, omegas_len, dt, bad):
    rng = np.random.default_rng(0)
    phases, omegas = rng.uniform(0, 6, phases_len), rng.uniform(0, 1, omegas_len)
    if bad:
        (phases if bad.startswith("phase") else omegas)[-1] = math.nan if bad.endswith("nan") else math.inf
    out = qk.estimate_coupling_rust(phases, omegas, n, t, dt)
    assert out.dtype == np.float64 and out.tolist() == [0.0] * (n * n)


def test_sizes():
    assert qk.estimate_coupling_rust(np.zeros(0), np.zeros(0), 0, 5, 0.1).tolist() == []
    assert qk.estimate_coupling_rust(np.zeros(4), np.zeros(1), 1, 4, 0.1).tolist() == [0.0]
    phases, omegas, _ = euler_series(2, 20, 0.01, 1)
    tiny = qk.estimate_coupling_rust(phases, omegas, 2, 20, 5e-324)  # a subnormal dt is used
    assert not np.all(tiny == 0.0)
    for n in (2**30, 2**32 + 3):  # n*n beyond any buffer
        internal_error(qk.estimate_coupling_rust, np.zeros(3), np.zeros(3), n, 5, 0.1)
    with pytest.raises(OverflowError):
        qk.estimate_coupling_rust(np.zeros(3), np.zeros(3), 1, -3, 0.1)


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""), reason="the sanitizer aborts on huge requests")
def test_failed_allocation_is_memory_error():
    with pytest.raises(MemoryError):  # 2^58 zeros: representable, not allocatable
        qk.estimate_coupling_rust(np.zeros(3), np.zeros(3), 2**29, 5, 0.1)


@pytest.mark.parametrize("case", ["random", "wraps", "identical sources", "constant"])
def test_bit_for_bit(case):
    rng = np.random.default_rng(7)
    n, t, dt = (11 if case == "random" else 3), 40, 0.05  # 11: Gram rows in blocks of eight and a remainder
    theta = rng.uniform(-7.0, 7.0, (n, t))
    if case == "wraps":  # increments of exactly pi, of 3pi/2 (taken as -pi/2) and of many turns
        theta[0, 1] = theta[0, 0] + math.pi
        theta[1, 5] = theta[1, 4] + 1.5 * math.pi
        theta[2, 9] = theta[2, 8] + 40.0
    elif case == "identical sources":
        theta[2] = theta[1]
    elif case == "constant":
        theta[:] = theta[0, :1]
    phases, omegas = theta.ravel().copy(), rng.normal(0.0, 1.0, n)
    got = qk.estimate_coupling_rust(phases, omegas, n, t, dt)
    assert got.tolist() == ref.estimate(phases.tolist(), omegas.tolist(), n, t, dt)
    if case == "identical sources":  # the lower index takes the whole coupling
        s = np.sin(theta[1, :-1] - theta[0, :-1])
        d = (theta[0, 1:] - theta[0, :-1] + np.pi) % (2 * np.pi) - np.pi
        assert got[2] == 0.0 and got[1] == pytest.approx((s @ (d / dt - omegas[0])) / (s @ s), rel=1e-12)
    if case == "constant":
        assert not got.any()


def test_recovers_euler_couplings():
    phases, omegas, k = euler_series(5, 600, 0.01, 3)
    got = qk.estimate_coupling_rust(phases, omegas, 5, 600, 0.01).reshape(5, 5)
    expected = k.copy()
    np.fill_diagonal(expected, 0.0)
    np.testing.assert_allclose(got, expected, rtol=0, atol=1e-8)
    assert np.all(np.diag(got) == 0.0)


def test_least_squares_per_node():
    rng = np.random.default_rng(11)
    n, t, dt = 6, 80, 0.1
    theta = np.cumsum(rng.normal(0.0, 0.8, (n, t)), axis=1)
    omegas = rng.normal(0.0, 1.0, n)
    got = qk.estimate_coupling_rust(theta.ravel().copy(), omegas, n, t, dt).reshape(n, n)
    d = (np.diff(theta, axis=1) + np.pi) % (2 * np.pi) - np.pi
    for i in range(n):
        others = [j for j in range(n) if j != i]
        s = np.sin(theta[others, :-1] - theta[i, :-1]).T
        x = np.linalg.lstsq(s, d[i] / dt - omegas[i], rcond=None)[0]
        np.testing.assert_allclose(got[i, others], x, rtol=1e-9, atol=1e-12)


def test_huge_increments_end():
    phases = np.array([0.0, 1e300, -1e300, 0.0, 0.5, 1e308, -1e308, 0.0, 1.0, 1.5, 2.0, 2.5])
    start = time.perf_counter()
    out = qk.estimate_coupling_rust(phases, np.zeros(3), 3, 4, 0.1)
    assert time.perf_counter() - start < 1.0 and out.shape == (9,)
    assert np.isnan(out[[3, 5]]).all()  # the infinite increment of oscillator 1 reaches its row as NaN


def big_estimate():
    phases, omegas, _ = euler_series(24, 300, 0.01, 5)
    return qk.estimate_coupling_rust(phases, omegas, 24, 300, 0.01)


def test_same_on_one_cpu():
    code = ("import os, sys; os.sched_setaffinity(0, {min(os.sched_getaffinity(0))}); sys.path.insert(0, sys.argv[1]);"
            " import test_coupling_est as t; sys.stdout.write(t.big_estimate().tobytes().hex())")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    pinned = subprocess.run([sys.executable, "-c", code, os.path.dirname(__file__)], env=env, capture_output=True,
                            text=True, check=True).stdout
    assert bytes.fromhex(pinned) == big_estimate().tobytes()


@pytest.mark.parametrize("lr, decay", [(0.5, 0.1), (0.0, 0.0), (2.0, 1.0), (-30.0, 0.2), (math.nan, 0.0)])
def test_adaptation_matches_where(lr, decay):
    rng = np.random.default_rng(2)
    n = 7
    knm, te = rng.normal(0.0, 1.0, n * n), rng.uniform(0.0, 1.0, n * n)
    knm[3], te[10], knm[20], te[20] = math.nan, math.nan, -0.0, 0.0  # NaN entries; v = -0.0
    got = qk.te_adapt_coupling_rust(knm, te, n, lr, decay)
    v = te * lr + knm * (1.0 - decay)  # entry by entry, untransposed
    expected = np.where(v > 0.0, v, 0.0)
    expected[:: n + 1] = 0.0
    assert got.tobytes() == expected.tobytes()  # +0.0, never -0.0 or NaN


def test_adaptation_lengths():
    knm, te = np.arange(9.0), np.ones(9)
    full = qk.te_adapt_coupling_rust(knm, te, 3, 1.0, 0.5)
    # The last diagonal entry is never read; extra entries are ignored.
    assert qk.te_adapt_coupling_rust(knm[:8].copy(), np.append(te, 5.0)[:8].copy(), 3, 1.0, 0.5).tolist() == full.tolist()
    internal_error(qk.te_adapt_coupling_rust, knm[:7].copy(), te, 3, 1.0, 0.5)
    internal_error(qk.te_adapt_coupling_rust, knm, te[:7].copy(), 3, 1.0, 0.5)
    for n in (10**6, 2**32 + 1, 2**63):  # short inputs fail before n*n values are allocated
        internal_error(qk.te_adapt_coupling_rust, knm, te, n, 1.0, 0.5)
    assert qk.te_adapt_coupling_rust(np.zeros(0), np.zeros(0), 0, 1.0, 0.5).tolist() == []
    assert qk.te_adapt_coupling_rust(np.zeros(0), np.zeros(0), 1, 1.0, 0.5).tolist() == [0.0]
    with pytest.raises(ValueError, match="^The given array is not contiguous or is misaligned.$"):
        qk.te_adapt_coupling_rust(knm, np.ones(18)[::2], 3, 1.0, 0.5)
