"""Laplacian spectra of coupling matrices: Fiedler value and vector, spectral
gap, critical coupling and convergence rate."""
import math
import time

import numpy as np
import pytest

import qel_kernel as qk
from reference import spectral as ref
from support import internal_error, same_on_one_cpu

NAN, INF = math.nan, math.inf
PAIR = [0.0, 1.0, 1.0, 0.0]  # lambda2 = 2
DISCONNECTED = [0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0]  # pairs 0-1 and 2-3


def random_knm(n, seed):
    rng = np.random.default_rng(seed)
    return rng.uniform(-3.0, 3.0, n * n) * (rng.uniform(size=n * n) > 0.3)


@pytest.mark.parametrize("n", [3, 4, 30])
@pytest.mark.parametrize("kind", ["path", "cycle", "complete", "star", "random"])
def test_eigenvalues(kind, n):
    knm = random_knm(n, n) if kind == "random" else ref.graph(kind, n)
    lap = ref.laplacian(knm, n)
    ev = np.linalg.eigvalsh(lap) if kind == "random" else ref.spectrum(kind, n)
    tol = 1e-12 * max(1.0, np.linalg.norm(lap))
    value, gap = qk.fiedler_value_rust(knm, n), qk.spectral_gap_rust(knm, n)
    assert value == pytest.approx(ev[1], abs=tol) and gap == pytest.approx(ev[2] - ev[1], abs=tol)
    # Weights are |K_ij| and |K_ji| averaged; the diagonal is never read.
    k = knm.reshape(n, n)
    noisy_diag = knm.copy()
    noisy_diag[:: n + 1] = 1e3
    for variant in (noisy_diag, -knm, k.T.ravel().copy(), ((np.abs(k) + np.abs(k.T)) * 0.5).ravel()):
        assert (qk.fiedler_value_rust(variant, n), qk.spectral_gap_rust(variant, n)) == (value, gap)


@pytest.mark.parametrize("kind, n", [("path", 9), ("random", 40), ("cycle", 8)])
def test_fiedler_vector_is_an_eigenvector(kind, n):
    knm = random_knm(n, 5) if kind == "random" else ref.graph(kind, n)
    lap = ref.laplacian(knm, n)
    v = qk.fiedler_vector_rust(knm, n)
    scale = np.linalg.norm(lap)
    assert v.shape == (n,) and np.linalg.norm(v) == pytest.approx(1.0, abs=1e-12)
    assert np.linalg.norm(lap @ v - qk.fiedler_value_rust(knm, n) * v) < 1e-12 * scale
    # Up to sign for a simple eigenvalue, by projector onto a repeated one's space.
    w, vecs = np.linalg.eigh(lap)
    space = vecs[:, np.abs(w - w[1]) < 1e-9 * scale]
    assert np.abs(space @ (space.T @ v) - v).max() < 1e-10


@pytest.mark.parametrize(
    "fn, args, expected",
    [
        (qk.fiedler_value_rust, ([0.0, 1.0, 0.0, 0.0], 2), 1.0),  # one direction: weight 0.5
        (qk.spectral_gap_rust, (PAIR, 2), 0.0),
        (qk.critical_coupling_rust, ([NAN, 1.0, 5.0], PAIR, 2), 2.0),
        (qk.critical_coupling_rust, ([NAN], PAIR, 2), -INF),
        (qk.critical_coupling_rust, ([0.0, 1.0], DISCONNECTED, 4), INF),
        (qk.critical_coupling_rust, ([0.0, 1.0], [NAN, NAN, 1.0, NAN], 2), NAN),
        (qk.sync_convergence_rate_rust, ([0.0, -1.0, -2.0, 0.0], [], 2, 0.0), 0.0),
        (qk.sync_convergence_rate_rust, ([0.5, 2.0, -1.0, 3.0], [], 2, 0.0), 3.0 * (5.5 / 3) / 2),  # lambda2 = 2 * 1.5
        (qk.sync_convergence_rate_rust, (PAIR, [], 2, math.pi / 2), 6.123233995736766e-17),
        (qk.sync_convergence_rate_rust, ([4.0], [], 1, 0.3), 0.0),
        (qk.spectral_gap_rust, ([0.0, INF] + ref.graph("cycle", 4)[2:].tolist(), 4), NAN),
    ]
    + [(fn, ([], n), 0.0) for n in (0, 1) for fn in (qk.fiedler_value_rust, qk.spectral_gap_rust)]
    + [(qk.critical_coupling_rust, ([1.0, 2.0], [], n), INF) for n in (0, 1)]
    + [(qk.fiedler_vector_rust, ([], 1), [0.0]),
       (qk.fiedler_vector_rust, ([0, NAN, 1, 0, 1, 0, 0, 1, 0], 3), [NAN] * 3)],
)
def test_edge_values(fn, args, expected):
    got = fn(*[np.array(a, dtype=float) if isinstance(a, list) else a for a in args])
    np.testing.assert_allclose(got, expected, rtol=1e-15, atol=1e-15, equal_nan=True)
    assert np.shape(got) == np.shape(expected)


@pytest.mark.parametrize(
    "fn, reads_last_diagonal",
    [(qk.fiedler_value_rust, False), (qk.spectral_gap_rust, False), (qk.fiedler_vector_rust, False),
     (lambda k, n: qk.critical_coupling_rust(np.ones(2), k, n), False),
     (lambda k, n: qk.sync_convergence_rate_rust(k, np.ones(2), n, 0.0), True)],
)
def test_short_couplings_fail_at_once(fn, reads_last_diagonal):
    knm = ref.graph("path", 4)
    full = fn(knm, 4)
    assert np.array_equal(fn(np.append(knm, [7.0, 8.0]), 4), full)
    if reads_last_diagonal:
        internal_error(fn, knm[:-1].copy(), 4)
    else:
        assert np.array_equal(fn(knm[:-1].copy(), 4), full)
        internal_error(fn, knm[:-2].copy(), 4)
    start = time.perf_counter()
    for n in (10**6, 2**32, 2**63):  # n*n too large to allocate, or to represent
        internal_error(fn, np.zeros(3), n)
    assert time.perf_counter() - start < 1.0


def test_solver_bits_do_not_depend_on_the_cpus_and_its_lapack_is_the_serial_one():
    # n large enough that a threaded BLAS would split its sums.
    same_on_one_cpu(
        "import numpy as np, qel_kernel as qk\n"
        "rng = np.random.default_rng(11); n = 400\n"
        "knm = rng.uniform(0, 1, n*n) * (rng.uniform(size=n*n) > 0.5)\n"
        "out = np.array([qk.fiedler_value_rust(knm, n), qk.spectral_gap_rust(knm, n)]).tobytes()"
        " + qk.fiedler_vector_rust(knm, n).tobytes()\n")
    try:
        with open("/proc/self/maps") as maps:
            system_blas = {line.split()[-1] for line in maps if "/usr/lib" in line and "openblas" in line}
    except OSError:
        pytest.skip("no /proc/self/maps")
    assert system_blas and all("openblas-serial" in path for path in system_blas)


@pytest.mark.parametrize("n", [2, 3, 50])
def test_fiedler_vector_and_value_agree_with_a_full_decomposition(n):
    """The one pair computed alone: its eigenvalue is lambda2 and its vector is unit, up to the repeated space."""
    knm = ref.graph("complete", n) if n == 3 else random_knm(n, 17 + n)
    lap = ref.laplacian(knm, n)
    w, vecs = np.linalg.eigh(lap)
    v = qk.fiedler_vector_rust(knm, n)
    tol = 1e-12 * max(1.0, np.linalg.norm(lap))
    assert qk.fiedler_value_rust(knm, n) == pytest.approx(w[1], abs=tol)
    assert np.linalg.norm(v) == pytest.approx(1.0, abs=1e-13) and np.linalg.norm(lap @ v - w[1] * v) < tol
    space = vecs[:, np.abs(w - w[1]) < 1e-9 * max(1.0, np.linalg.norm(lap))]
    assert np.abs(space @ (space.T @ v) - v).max() < 1e-10
