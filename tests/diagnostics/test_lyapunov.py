"""Lyapunov spectrum: checks, closed forms, the reference arithmetic, worker independence."""
import math
import re
import os
import subprocess
import sys

import numpy as np
import pytest

import qel_kernel as qk
from reference import lyapunov as ref

DIAG = "knm diagonal must be zero; Kuramoto self-coupling is not a physical pair interaction"


def network(n, lags, seed=0, scale=1.0):
    rng = np.random.default_rng(seed)
    knm = rng.uniform(0.0, scale, n * n)
    knm[:: n + 1] = 0.0
    alpha = rng.uniform(-0.4, 0.4, n * n) if lags else np.zeros(n * n)
    return rng.uniform(0.0, 6.0, n), rng.normal(0.0, 1.0, n), knm, alpha


@pytest.mark.parametrize(
    "sizes, kwargs, message",
    [
        ((2, 3, 4, 4), {}, "omegas length 3 != phases length 2"),
        ((2, 2, 3, 4), {"qr_interval": 0}, "knm length 3 != N*N=4"),
        ((2, 2, 4, 5), {}, "alpha length 5 != N*N=4"),
        ((2, 2, 4, 4), {"qr_interval": 0}, "qr_interval must be > 0"),
    ],
)
def test_checks_in_order(sizes, kwargs, message):
    arrays = [np.zeros(k) for k in sizes]
    with pytest.raises(ValueError, match=f"^{re.escape(message)}$"):
        qk.lyapunov_spectrum_rust(*arrays, **kwargs)


def test_empty_network_returns_before_the_interval_check():
    assert qk.lyapunov_spectrum_rust(*[np.zeros(0)] * 4, qr_interval=0).size == 0


@pytest.mark.parametrize("diag, ok", [(1e-12, True), (-1e-12, True), (2e-12, False), (-2e-12, False)])
def test_diagonal_tolerance(diag, ok):
    knm = np.array([diag, 0.5, 0.5, 0.0])
    call = lambda: qk.lyapunov_spectrum_rust(np.array([0.1, 0.2]), np.zeros(2), knm, np.zeros(4), n_steps=20)
    if ok:
        assert call().shape == (2,)
    else:
        with pytest.raises(ValueError, match=f"^{DIAG}$"):
            call()


def all_to_all(n, k):
    knm = np.full(n * n, k / n)
    knm[:: n + 1] = 0.0
    return knm


@pytest.mark.parametrize(
    "args, kwargs, expected, tol",
    [
        # uncoupled: neutral in every direction
        ((np.array([0.3, 2.0, 4.0]), np.array([1.0, -0.5, 2.0]), np.zeros(9), np.zeros(9)), {}, [0.0] * 3, 1e-12),
        # a synchronised symmetric pair: {0, -2K}
        ((np.array([0.1, 0.2]), np.zeros(2), np.array([0.0, 0.7, 0.7, 0.0]), np.zeros(4)), {"n_steps": 4000},
         [0.0, -1.4], 2e-3),
        # all-to-all K/N: {0, -K, ..., -K}
        ((np.linspace(0.0, 0.1, 5), np.zeros(5), all_to_all(5, 1.5), np.zeros(25)), {"n_steps": 4000},
         [0.0] + [-1.5] * 4, 2e-3),
        # one oscillator pulled by the drive: -zeta
        ((np.array([1.0]), np.zeros(1), np.zeros(1), np.zeros(1)), {"n_steps": 20000, "zeta": 0.5, "psi": 0.2},
         [-0.5], 2e-3),
    ],
)
def test_closed_forms(args, kwargs, expected, tol):
    got = qk.lyapunov_spectrum_rust(*args, **kwargs)
    assert np.allclose(got, expected, atol=tol, rtol=0.0)
    assert list(got) == sorted(got, reverse=True)


@pytest.mark.parametrize(
    "n, lags, zeta, n_steps, qr",
    [(1, False, 0.3, 4, 2), (5, True, 0.0, 7, 3), (9, False, 0.4, 15, 10), (9, True, math.nan, 3, 1),
     (66, False, 0.2, 1, 1), (66, True, 0.0, 1, 1)],
)
def test_bit_for_bit_against_reference(n, lags, zeta, n_steps, qr):
    ph, om, knm, alpha = network(n, lags)
    got = qk.lyapunov_spectrum_rust(ph, om, knm, alpha, 0.05, n_steps, qr, zeta, 0.3)
    want = ref.spectrum(list(ph), list(om), list(knm), list(alpha), 0.05, n_steps, qr, zeta, 0.3)
    assert np.array_equal(got, want, equal_nan=True)


@pytest.mark.parametrize("n, lags, zeta", [(12, True, 0.3), (40, False, 0.0)])
def test_numpy_replica(n, lags, zeta):
    ph, om, knm, alpha = network(n, lags, seed=4, scale=2.0 / n)
    got = qk.lyapunov_spectrum_rust(ph, om, knm, alpha, 0.02, 60, 7, zeta, 1.0)
    assert np.allclose(got, ref.spectrum_numpy(ph, om, knm, alpha, 0.02, 60, 7, zeta, 1.0), atol=1e-9, rtol=0.0)


@pytest.mark.parametrize("n_steps", [0, 9])
def test_no_reorthonormalisation_gives_zeros(n_steps):
    got = qk.lyapunov_spectrum_rust(*network(3, True), n_steps=n_steps, qr_interval=10)
    assert got.tolist() == [0.0, 0.0, 0.0]


def spectrum_bytes(n, lags):
    return qk.lyapunov_spectrum_rust(*network(n, lags, scale=2.0 / n), 0.01, 4, 2, 0.3, 0.5).tobytes()


PINNED = ("import os, sys; os.sched_setaffinity(0, {min(os.sched_getaffinity(0))}); sys.path.insert(0, sys.argv[1]); "
          "import test_lyapunov as t; sys.stdout.write(t.spectrum_bytes(int(sys.argv[2]), sys.argv[3] == '1').hex())")


@pytest.mark.parametrize("lags", [False, True])
def test_one_cpu_and_all_agree(lags):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    out = subprocess.run([sys.executable, "-c", PINNED, os.path.dirname(__file__), "200", str(int(lags))],
                         env=env, capture_output=True, text=True, check=True).stdout
    assert bytes.fromhex(out) == spectrum_bytes(200, lags)
