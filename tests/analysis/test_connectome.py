"""Synthetic two-hemisphere connectome and coupling priors."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import connectome as ref


@pytest.mark.parametrize("n", [0, 1, 2, 5, 7, 13, 41])
@pytest.mark.parametrize("seed", [0, 2**64 - 1])
def test_connectome_bit_for_bit(n, seed):
    assert qk.load_hcp_connectome_rust(n, seed).tolist() == ref.load_hcp_connectome(n, seed)


def test_two_regions_are_hub_and_homotopic_link():
    # Sixteen hub additions of 0.3 each way and the 0.15 link, for any seed.
    assert qk.load_hcp_connectome_rust(2, 2**63) == pytest.approx([0.0, 4.95, 4.95, 0.0], abs=1e-12)


def test_ten_regions_hub_list():
    k = qk.load_hcp_connectome_rust(10, 3).reshape(10, 10)
    hubs = {0, 5, 2, 7, 3, 8, 4, 9}
    for i in range(10):
        for j in range(10):
            if i != j and (i < 5) == (j < 5):  # within a hemisphere: decay, jitter of 0.02 at most, hubs
                hub = 0.3 if i in hubs and j in hubs else 0.0
                assert abs(k[i, j] - 0.5 * math.exp(-0.3 * abs(i - j)) - hub) <= 0.02 + 1e-12
    # The only cross pairs beyond the homotopic reach join two hubs.
    assert (k[0, 9], k[4, 5], k[9, 0]) == (0.3, 0.3, 0.3)


def test_connectome_is_a_valid_coupling():
    k = qk.load_hcp_connectome_rust(101, 7).reshape(101, 101)
    assert np.array_equal(k, k.T) and (k >= 0).all() and not k.diagonal().any()
    assert not np.array_equal(k, qk.load_hcp_connectome_rust(101, 8).reshape(101, 101))


@pytest.mark.parametrize("call", [
    lambda n: qk.load_hcp_connectome_rust(n, 0), lambda n: qk.prior_distance_decay_rust(n, 1.0, 0.5),
])
@pytest.mark.parametrize("n", [2**31, 2**64 - 1])
def test_unallocatable_matrix_is_memory_error(call, n):
    with pytest.raises(MemoryError):
        call(n)


@pytest.mark.parametrize("n, k_base, decay", [(0, 1.0, 1.0), (3, 2.0, 0.0), (7, 1.7, 0.3), (6, -0.5, -2.0)])
def test_distance_decay(n, k_base, decay):
    assert qk.prior_distance_decay_rust(n, k_base, decay).tolist() == ref.prior_distance_decay(n, k_base, decay)


def test_distance_decay_non_finite():
    k = qk.prior_distance_decay_rust(4, math.nan, 0.1).reshape(4, 4)
    assert np.isnan(k[~np.eye(4, dtype=bool)]).all() and not k.diagonal().any()
    assert math.isinf(qk.prior_distance_decay_rust(800, 1.0, -1.0)[799])


@pytest.mark.parametrize("args, expected", [
    ((1.0, 2.0, 1.0, 0.5, 2.0, 3.0), -0.0), ((1.0, -1.0, 1.0, 0.5, 2.0, 3.0), -0.5),
    ((0.5, 5.0, 1.0, -0.5, 2.0, -3.0), -1.0), ((1.0, 2.0, 0.0, 0.0, 2.0, 1.0), -math.inf),
])
def test_log_probability(args, expected):
    got = qk.prior_log_probability_rust(*args)
    assert got == expected and math.copysign(1.0, got) == math.copysign(1.0, expected)
