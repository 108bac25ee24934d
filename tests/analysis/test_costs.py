"""The self-organising and the ethical cost functionals."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import ethical as eth_ref
from reference import ssgf_costs as ssgf_ref
from support import internal_error

NAN, INF = math.nan, math.inf


def random_w(n, seed, symmetric=False):
    rng = np.random.default_rng(seed)
    w = rng.uniform(-2.0, 2.0, (n, n)) * (rng.uniform(size=(n, n)) > 0.3)
    return (w + w.T if symmetric else w).ravel()


@pytest.mark.parametrize("n, weights", [(1, ()), (2, (0.3, 2.0, 0.0, 1.5)), (30, (2.0, 0.1, 3.0, 0.7))])
@pytest.mark.parametrize("symmetric", [False, True])
def test_ssgf_costs_match_reference(n, weights, symmetric):
    w = random_w(n, n, symmetric)
    phases = np.random.default_rng(1).uniform(-7.0, 7.0, n)
    got = qk.compute_ssgf_costs_rust(w, phases, n, *weights)
    np.testing.assert_allclose(got, ssgf_ref.costs(w, phases, n, *weights), rtol=1e-12, atol=1e-12)
    if symmetric or n == 1:
        assert got[3] == 0.0
    if n < 2:
        assert math.copysign(1.0, got[1]) == -1.0 and got[1] == 0.0


@pytest.mark.parametrize(
    "phases, c1", [([0.4, 0.4, 0.4], 0.0), ([0.0, math.pi], 1.0), ([1.0], 0.0)]
)
def test_ssgf_incoherence(phases, c1):
    n = len(phases)
    assert qk.compute_ssgf_costs_rust(np.ones(n * n), np.array(phases), n)[0] == pytest.approx(c1, abs=1e-15)


def test_ssgf_empty_network():
    got = qk.compute_ssgf_costs_rust(np.array([]), np.array([]), 0, 2.5)
    assert got == (1.0, -0.0, 0.0, 0.0, 2.5) and math.copysign(1.0, got[1]) == -1.0


@pytest.mark.parametrize(
    "w, phases, n, weights, message",
    [
        ([], [], 2**32, (), "n*n overflow in SSGF cost input"),
        ([], "strided", 2**32, (), "The given array is not contiguous or is misaligned."),
        ([1.0] * 3, [NAN], 2, (), "w_flat length 3 does not match n*n=4"),
        ([1.0] * 4, [NAN], 2, (-1.0,), "phases length 1 does not match n=2"),
        ([NAN, 1, 1, 1], [0, 0], 2, (INF,), "SSGF cost inputs must contain only finite values"),
        ([1.0] * 4, [0, INF], 2, (), "SSGF cost inputs must contain only finite values"),
        ([1.0] * 4, [0, 0], 2, (1.0, -1e-300), "SSGF weights must be finite non-negative values"),
        ([1.0] * 4, [0, 0], 2, (1.0, 1.0, 1.0, NAN), "SSGF weights must be finite non-negative values"),
        ([1.0] * 4, [0, 0], 2, (1.0, INF), "SSGF weights must be finite non-negative values"),
    ],
)
def test_ssgf_checks_in_order(w, phases, n, weights, message):
    with pytest.raises(ValueError) as info:
        phases = np.zeros(4)[::2] if phases == "strided" else np.array(phases, dtype=float)
        qk.compute_ssgf_costs_rust(np.array(w, dtype=float), phases, n, *weights)
    assert str(info.value) == message


def test_ssgf_negative_zero_weight_passes():
    assert qk.compute_ssgf_costs_rust(np.ones(4), np.zeros(2), 2, -0.0, -0.0, -0.0, -0.0)[4] == 0.0


ETH = dict(alpha_r=0.7, beta_k=1.3, gamma_q=0.4, nu_s=0.2, kappa=2.0, r_min=0.5, connectivity_min=0.8,
           max_coupling=0.9)


def eth(phases, knm, n, **over):
    params = dict(ETH, **over)
    args = (np.asarray(phases, dtype=float), np.asarray(knm, dtype=float), n, *params.values())
    got = qk.compute_ethical_cost_rust(*args)
    np.testing.assert_array_equal(got, eth_ref.cost(*args))
    assert type(got[3]) is int
    return got


@pytest.mark.parametrize("n, m, seed", [(1, 3, 0), (2, 2, 1), (3, 5, 2), (7, 7, 5)])
def test_ethical_cost_matches_reference(n, m, seed):
    rng = np.random.default_rng(seed)
    knm = random_w(n, seed)
    eth(rng.uniform(-4, 4, m), knm, n)
    eth(rng.uniform(-4, 4, m), np.append(knm, [5.0, -3.0]), n, r_min=2.0)  # extra entries count
    eth(np.full(m, 0.3), np.zeros(n * n), n, kappa=0.0)


@pytest.mark.parametrize("n", [12])
def test_ethical_pivot_ties(n):
    # Small integer weights tie often: the first maximum in row-major order must win.
    ring = np.zeros((n, n))
    for i in range(n):
        ring[i, (i + 1) % n] = ring[(i + 1) % n, i] = 1.0
    eth(np.zeros(n), ring.ravel(), n)
    eth(np.zeros(n), np.random.default_rng(n).integers(-2, 3, n * n).astype(float), n)


def test_ethical_pivot_tie_made_by_a_rotation():
    # The first rotation, on (2, 3) with theta = 0, makes |A[0][3]| equal to
    # |A[0][4]|, the row's maximum so far: the earlier column must take over.
    k = np.full((5, 5), 0.1)
    np.fill_diagonal(k, 0.0)
    k[0, 2:] = [1.0, 1.0, 2.0 * (1.0 / math.sqrt(2.0))]
    k[2], k[3] = [0, 0, 0, 5.0, 0], [0, 0, 5.0, 0, 0]
    eth(np.zeros(5), k.ravel(), 5)


def test_ethical_known_values():
    assert qk.compute_ethical_cost_rust(np.array([NAN]), np.array([NAN]), 0, *ETH.values()) == (0.0, 0.0, 1.0, 0)
    # Two coupled oscillators in step: lambda2 = 2, R = 1, sigma = 0, rho = 1.
    j, penalty, cost, count = eth([0.5, 0.5], [0, 1, 1, 0], 2, max_coupling=1.0)
    assert j == pytest.approx(0.7 + 1.3 + 0.4, abs=1e-15) and (penalty, count) == (0.0, 0)
    # Doubled phases: R = 2 over all m phases divided by n.
    only_r = dict(alpha_r=1.0, beta_k=0.0, gamma_q=0.0, nu_s=0.0)
    assert eth([0.3] * 4, [0, 1, 1, 0], 2, **only_r)[0] == pytest.approx(2.0, abs=1e-15)
    # Couplings at or below 0: no coupling violation; a NaN does not hide the largest entry.
    assert eth([0.0, 0.0], [0, -5, -5, 0], 2, r_min=0.0, connectivity_min=0.0, kappa=1.0)[3] == 0
    _, penalty, _, count = eth([0.0, 0.0], [0, 2.0, NAN, 1.0], 2, r_min=0.0, connectivity_min=0.0)
    assert count == 1 and penalty == pytest.approx(2.0 * 1.1**2, rel=1e-15)
    assert eth([0.0, 0.0], [0, 1.0, 1.0, 0], 2, kappa=0.0, r_min=5.0)[1] == 0.0


@pytest.mark.parametrize("n", [3, 20])
def test_ethical_connectivity_of_symmetric_couplings(n):
    knm = random_w(n, 10 + n, symmetric=True)
    k = np.abs(knm.reshape(n, n))
    lap = np.diag(k.sum(axis=1)) - k
    lap[np.diag_indices(n)] += np.diag(k)
    lambda2 = max(np.linalg.eigvalsh(lap)[1], 0.0)
    only_l = dict(alpha_r=0.0, beta_k=float(n), gamma_q=0.0, nu_s=0.0)
    assert qk.compute_ethical_cost_rust(np.zeros(n), knm, n, *dict(ETH, **only_l).values())[0] == pytest.approx(
        lambda2, abs=1e-9)


def test_ethical_short_couplings_fail():
    internal_error(qk.compute_ethical_cost_rust, np.zeros(3), np.ones(8), 3, *ETH.values())
    internal_error(qk.compute_ethical_cost_rust, np.zeros(3), np.ones(3), 2**40, *ETH.values())
    # One oscillator reads no coupling: lambda2 = 0 < connectivity_min is the one violation.
    assert qk.compute_ethical_cost_rust(np.zeros(1), np.array([]), 1, *ETH.values())[3] == 1
