"""Amplitude envelopes, their modulation depth, and carrier decoding."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import signal as ref
from support import internal_error

LN2 = 0.6931471805599453
FINITE = "amplitudes must contain only finite values"


@pytest.mark.parametrize("n, w", [(1, 1), (10, 10), (5000, 50), (3 << 19, 7)])
def test_envelope_bit_for_bit_against_cumsum_form(n, w):
    x = np.random.default_rng(n + w).normal(0.0, 3.0, n)
    out = qk.extract_envelope_rust(x, w)
    assert out.tobytes() == ref.envelope_numpy(x, w).tobytes()
    if n <= 5000:
        assert out.tolist() == ref.envelope(x.tolist(), w)


@pytest.mark.parametrize("x, w, expect", [
    ([1.0, -2.0, 3.0], 0, [1.0, -2.0, 3.0]),
    ([1.0, -2.0, 3.0], 4, [0.0, 0.0, 0.0]),
    ([], 5, []),
])
def test_envelope_degenerate_windows(x, w, expect):
    out = qk.extract_envelope_rust(np.array(x, dtype=float), w)
    assert type(out) is np.ndarray and out.tolist() == expect


@pytest.mark.parametrize("w, bad", [(0, math.nan), (1, -math.inf), (9, math.inf)])
def test_envelope_refuses_non_finite_samples_whatever_the_window(w, bad):
    with pytest.raises(ValueError, match=f"^{FINITE}$"):
        qk.extract_envelope_rust(np.array([1.0, bad, 2.0]), w)


def test_envelope_accepts_finite_samples_whose_squares_overflow():
    x = np.array([1e200, 1.0, 2.0, 3.0])
    assert qk.extract_envelope_rust(x, 2).tobytes() == ref.envelope_numpy(x, 2).tobytes()


@pytest.mark.parametrize("v, expect", [
    ([1, 3], 0.5), ([-2, 1], 0.0), ([], 0.0), ([math.nan, 1, 3], 0.5), ([math.nan], math.nan),
    ([1, math.inf], math.nan),
])
def test_modulation_depth(v, expect):
    got = qk.envelope_modulation_depth_rust(np.array(v, dtype=float))
    assert got == expect or (math.isnan(got) and math.isnan(expect))


@pytest.mark.parametrize("n, m", [(1, 3), (7, 1), (40, 41)])
def test_carrier_bit_for_bit(n, m):
    rng = np.random.default_rng(n * m)
    z = rng.normal(0.0, 2.0, m)
    a = rng.normal(0.0, 4.0, n * n * m + 3)
    a[:m] = 0.0
    a[0] = 20.0 / z[0]  # a read-out at or next to 20
    assert qk.carrier_decode_rust(z, a, n).tolist() == ref.carrier_decode(z.tolist(), a.tolist(), n)


@pytest.mark.parametrize("z, a, n, expect", [
    ([1.0], [5, 0, 0, 5], 2, [0.0, LN2, LN2, 0.0]),
    ([], [math.nan], 2, [0.0, LN2, LN2, 0.0]),
    ([1.0], [0, 20.5, -20.5, 0], 2, [0.0, 20.5, 0.0, 0.0]),
    ([1.0], [0, math.inf, -math.inf, 0], 2, [0.0, math.inf, 0.0, 0.0]),
    ([math.nan], [], 0, []),
])
def test_carrier_cases(z, a, n, expect):
    assert qk.carrier_decode_rust(np.array(z, dtype=float), np.array(a, dtype=float), n).tolist() == expect


def test_carrier_nan_reaches_off_diagonal_only():
    k = qk.carrier_decode_rust(np.array([math.nan]), np.ones(4), 2)
    assert k[0] == k[3] == 0.0 and math.isnan(k[1]) and math.isnan(k[2])


# The last row: n*n*m wraps to 0.
@pytest.mark.parametrize("z_len, a_len, n", [(3, 2 * 2 * 3 - 1, 2), (1, 0, 1), (64, 5, 2**29)])
def test_carrier_short_read_out_names_its_length(z_len, a_len, n):
    message = internal_error(qk.carrier_decode_rust, np.ones(z_len), np.ones(a_len), n)
    assert message == f"index out of bounds: the len is {a_len} but the index is {a_len}"


def test_carrier_size_is_checked():
    assert internal_error(qk.carrier_decode_rust, np.ones(1), np.ones(1), 2**30) == "capacity overflow"
