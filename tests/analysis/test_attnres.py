"""Attention-style coupling modulation."""
import math
import time

import numpy as np
import pytest

import qel_kernel as qk
from reference import attnres as ref

NAN, INF = math.nan, math.inf


def case(n, n_heads, d, seed, zeros=0.3):
    rng = np.random.default_rng(seed)
    knm = rng.uniform(-1.0, 2.0, n * n) * (rng.uniform(size=n * n) > zeros)
    theta = rng.uniform(-4.0, 4.0, n)
    width = n_heads * d
    ws = [rng.normal(size=width * width) for _ in range(4)]
    return knm, theta, ws


def run(knm, theta, ws, n, n_heads, block=-1, temperature=1.0, lam=0.7):
    return qk.attnres_modulate_rust(knm, theta, *ws, n, n_heads, block, temperature, lam)


@pytest.mark.parametrize(
    "n, n_heads, d, block, temperature, lam, tweak",
    [
        (6, 2, 2, 1, 0.5, 2.0, None),
        (7, 3, 1, 2, 1.3, 0.1, "nan_coupling"),
        (4, 1, 3, -1, 1.0, 1.0, None),  # odd width: the last feature column stays 0
        (6, 2, 3, 0, 1.0, 0.5, None),  # no key and no pair
        (5, 2, 2, -1, 5e-324, 1.0, None),  # infinite scale
        (5, 1, 2, -1, 1.0, NAN, None),
        (6, 2, 2, -1, 1.0, 0.3, "nan_phase"),  # a value no one attends to still reaches every row
        (6, 2, 2, 1, 1.0, 0.3, "inf_query"),
        (1, 1, 2, -1, 1.0, 0.8, None),
        (6, 1, 2, -1, 1.0, 0.8, "isolated_row"),
    ],
)
def test_matches_reference_bit_for_bit(n, n_heads, d, block, temperature, lam, tweak):
    knm, theta, ws = case(n, n_heads, d, seed=n * 10 + d)
    if tweak == "nan_coupling":
        knm[1] = NAN
    elif tweak == "nan_phase":
        theta[0] = NAN
        knm[::n] = 0.0
    elif tweak == "nan_value":
        ws[2][3] = NAN
    elif tweak == "inf_query":
        ws[0][1] = INF
    elif tweak == "isolated_row":
        knm[2 * n:3 * n] = 0.0
        ws[2][0] = -INF
    got = run(knm, theta, ws, n, n_heads, block, temperature, lam)
    want = ref.modulate(knm, theta, *ws, n, n_heads, block, temperature, lam)
    assert got.dtype == np.float64 and got.shape == (n * n,)
    np.testing.assert_array_equal(got, want)
    assert np.array_equal(np.signbit(got), np.signbit(want))


def test_numpy_transcription():
    n, n_heads, d = 48, 4, 3
    knm, theta, ws = case(n, n_heads, d, seed=3)
    for block in (-1, 5):
        got = run(knm, theta, ws, n, n_heads, block, 0.8, 1.5)
        want = ref.modulate_numpy(knm, theta, *ws, n, n_heads, block, 0.8, 1.5)
        np.testing.assert_allclose(got, want, rtol=0, atol=1e-12)


@pytest.mark.parametrize("lam", [0.0, -0.0])
def test_zero_gain_returns_the_matrix_untouched(lam):
    knm = np.array([3.0, 1.0, -2.0, NAN])
    got = run(knm, np.zeros(2), [np.ones(1)] * 4, 2, 1, lam=lam)
    np.testing.assert_array_equal(got, knm)
    assert not np.shares_memory(got, knm)
    assert run(knm, np.zeros(2), [np.ones(1)] * 4, 2, 1, lam=5e-324)[0] == 0.0


def test_band_zero_and_empty_weights_in_closed_form():
    n = 5
    knm, theta, ws = case(n, 2, 2, seed=8)
    k = knm.reshape(n, n)
    expected = (k + k.T) / 2
    np.fill_diagonal(expected, 0.0)
    np.testing.assert_array_equal(run(knm, theta, ws, n, 2, block=0, lam=3.0), expected.ravel())
    # No heads to attend with: every allowed pair has similarity 0.5.
    lam = 0.6
    scaled = np.where(k != 0.0, k * (1 + lam / 2), 0.0)
    np.fill_diagonal(scaled, 0.0)
    expected = (scaled + scaled.T) / 2
    empty = [np.array([])] * 4
    np.testing.assert_allclose(run(knm, theta, empty, n, 1, lam=lam), expected.ravel(), rtol=1e-15, atol=0)
    # The head count then changes nothing and costs nothing.
    start = time.perf_counter()
    np.testing.assert_array_equal(run(knm, theta, empty, n, 10**9, lam=lam), run(knm, theta, empty, n, 1, lam=lam))
    assert time.perf_counter() - start < 1.0


@pytest.mark.parametrize(
    "args, message",
    [
        (dict(w_o=np.ones(8)[::2], n_heads=0), "The given array is not contiguous or is misaligned."),
        (dict(knm=np.zeros(3)), "knm length 3 != n*n 4"),
        (dict(knm=np.zeros(3), n=2**32), "knm length 3 != n*n 18446744073709551616"),
        (dict(theta=np.zeros(3)), "theta length 3 != n 2"),
        (dict(n_heads=0, temperature=0.0), "n_heads must be ≥ 1"),
        (dict(temperature=0.0, lam=-1.0), "temperature must be finite and > 0"),
        (dict(temperature=INF), "temperature must be finite and > 0"),
        (dict(temperature=NAN), "temperature must be finite and > 0"),
        (dict(n_heads=3, lam=-1e-300), "lambda_ must be ≥ 0"),
        (dict(n_heads=3), "w_q length 4 not divisible by n_heads 3"),
        (dict(w_k=np.ones(5)), "w_k / w_v must match w_q in length"),
        (dict(w_v=np.ones(3)), "w_k / w_v must match w_q in length"),
        (dict(w_o=np.ones(3)), "w_o length 3 != n_heads·per_head 4"),
        (dict(w=8, n_heads=2), "cannot infer d_head from w_q shape: per_head=4, n_heads=2"),
        (dict(w=3, n_heads=1), "cannot infer d_head from w_q shape: per_head=3, n_heads=1"),
    ],
)
def test_checks_in_order(args, message):
    w = np.ones(args.pop("w", 4))
    full = dict(knm=np.ones(4), theta=np.zeros(2), w_q=w, w_k=w, w_v=w, w_o=w, n=2, n_heads=1, block=-1,
                temperature=1.0, lam=1.0)
    full.update(args)
    with pytest.raises(ValueError) as info:
        qk.attnres_modulate_rust(*full.values())
    assert str(info.value) == message


@pytest.mark.parametrize("temperature, lam", [(5e-324, 1.0), (1.0, INF)])
def test_boundary_parameters_pass(temperature, lam):
    w = np.ones(4)
    assert run(np.ones(4), np.zeros(2), [w] * 4, 2, 1, temperature=temperature, lam=lam).shape == (4,)
