"""Per-step order parameters and sliding-window phase-locking matrices."""
import numpy as np
import pytest

import qel_kernel as qk
from reference import market as ref
from support import internal_error, same_on_one_cpu


@pytest.mark.parametrize("t, n, window, blocks", [(5, 2, 0, 0), (5, 2, 6, 0), (5, 0, 2, 0), (5, 2, 5, 1),
                                                  (60, 2, 50, 11)])
def test_window_count(t, n, window, blocks):
    x = np.random.default_rng(0).uniform(0.0, 7.0, t * n)
    assert qk.market_plv_rust(x, t, n, window).shape == (blocks * n * n,)
    assert qk.market_order_parameter_rust(x, t, n).shape == ((t if n else 0),)


@pytest.mark.parametrize("t, n, window", [(6, 1, 3), (9, 3, 4), (12, 7, 5), (8, 8, 1)])
def test_bit_for_bit_against_reference(t, n, window):
    # Odd and even n cross every register block shape; the five values past
    # t*n must be ignored.
    x = np.random.default_rng(t * n + window).normal(0.0, 5.0, t * n + 5)
    x[3] = np.nan
    got = qk.market_plv_rust(x, t, n, window)
    assert np.array_equal(got, ref.market_plv(x.tolist(), t, n, window), equal_nan=True)
    got = qk.market_order_parameter_rust(x, t, n)
    assert np.array_equal(got, ref.market_order_parameter(x.tolist(), t, n), equal_nan=True)


@pytest.mark.parametrize("t, n, w", [(300, 13, 37), (33, 101, 30)])  # the second splits windows by rows
def test_against_numpy_and_symmetric(t, n, w):
    x = np.random.default_rng(1).uniform(-10.0, 10.0, t * n)
    z = np.exp(1j * x).reshape(t, n)
    expect = np.stack([np.abs(z[s:s + w].conj().T @ z[s:s + w]) / w for s in range(t - w + 1)])
    got = qk.market_plv_rust(x, t, n, w).reshape(-1, n, n)
    assert np.abs(got - expect).max() < 1e-12
    assert np.array_equal(got, got.transpose(0, 2, 1))
    r = qk.market_order_parameter_rust(x, t, n)
    assert np.abs(r - np.abs(z.mean(axis=1))).max() < 1e-12


def test_locked_series_give_one_and_antiphase_zero():
    rng = np.random.default_rng(2)
    base = rng.uniform(0.0, 6.3, 200)
    offset = np.stack([base, base + 1.3, base - 0.4, base + 3.0], axis=1).ravel()
    assert np.abs(qk.market_plv_rust(offset, 200, 4, 20) - 1.0).max() < 1e-14
    assert np.abs(qk.market_plv_rust(rng.uniform(0.0, 6.3, 80), 20, 4, 1) - 1.0).max() < 1e-14
    r = qk.market_order_parameter_rust(np.stack([base, base, base + np.pi, base + np.pi], axis=1).ravel(), 200, 4)
    assert np.abs(r).max() < 1e-15


@pytest.mark.parametrize("call", [
    lambda x: qk.market_plv_rust(x, 3, 2, 2),
    lambda x: qk.market_order_parameter_rust(x, 3, 2),
    lambda x: qk.market_plv_rust(x, 2**32, 2**32, 1),  # t*n past 64 bits: decided before any allocation
    lambda x: qk.market_order_parameter_rust(x, 2**40, 2**40),
])
def test_short_input_is_an_internal_error(call):
    internal_error(call, np.zeros(5))


def test_short_input_unread_and_huge_results():
    assert qk.market_plv_rust(np.zeros(1), 3, 2, 4).size == 0
    assert qk.market_plv_rust(np.zeros(1), 3, 0, 2).size == 0
    with pytest.raises(MemoryError):
        qk.market_plv_rust(np.zeros(2**20), 16, 2**16, 1)  # 2^36 values out of 2^20 in


def test_same_bits_on_one_cpu_and_on_all():
    same_on_one_cpu("""import numpy as np, qel_kernel as qk
x = np.random.default_rng(3).uniform(0.0, 6.3, 700 * 21)
out = (qk.market_plv_rust(x, 700, 21, 30).tobytes() + qk.market_order_parameter_rust(x, 700, 21).tobytes()
       + qk.market_plv_rust(x, 110, 130, 100).tobytes())""")
