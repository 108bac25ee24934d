"""Frequency identification, and the worker-count independence of the pooled signal metrics."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import signal as ref
from support import internal_error, same_on_one_cpu


def sine(period, n=100):
    return np.sin(2 * np.pi * np.arange(n) / period)


def ident(channels, fs, n=None):
    data = np.concatenate(channels) if channels else np.zeros(0)
    n = len(channels[0]) if n is None else n
    return qk.identify_frequencies_rust(data, len(channels), n, fs).tolist()


@pytest.mark.parametrize("channels, fs, expect", [
    ([sine(10), sine(20)], 100.0, [5.0, 10.0]),
    ([sine(10), np.full(100, 3.0)], 100.0, [0.0, 10.0]),
    ([sine(10), sine(10)], 0.0, [0.0]),
    ([sine(10), sine(10), sine(20)], -100.0, [-10.0, -10.0, -5.0]),
    ([np.arange(5.0), np.ones(5)], 100.0, [0.0]),
])
def test_worked_examples(channels, fs, expect):
    assert ident(channels, fs) == expect


def test_values_within_one_resolution_step_merge_into_the_lowest():
    # Periods 10 and 11 give fs/10 and fs/11, about 0.9 apart: merged at a step of 1.
    assert ident([sine(11, 100), sine(10, 100)], 100.0) == [100.0 / 11]


@pytest.mark.parametrize("n_ch, n", [(0, 10), (3, 2), (2, 0)])
def test_nothing_to_read(n_ch, n):
    assert qk.identify_frequencies_rust(np.zeros(0), n_ch, n, 1.0).tolist() == []


@pytest.mark.parametrize("seed, n_ch, n", [(0, 3, 60), (1, 5, 97), (3, 1, 1000)])
def test_bit_for_bit_against_reference(seed, n_ch, n):
    rng = np.random.default_rng(seed)
    t = np.arange(n)
    data = np.concatenate([np.sin(t * rng.uniform(0.05, 1.5)) + rng.normal(0, 0.3, n) for _ in range(n_ch)])
    freqs = [qk.identify_frequencies_rust(data[c * n:(c + 1) * n], 1, n, 250.0)[0] for c in range(n_ch)]
    assert freqs == [ref.channel_frequency(data[c * n:(c + 1) * n].tolist(), 250.0) for c in range(n_ch)]
    assert ident([data[c * n:(c + 1) * n] for c in range(n_ch)], 7.0) == ref.identify_frequencies(
        data.tolist(), n_ch, n, 7.0)


@pytest.mark.parametrize("length, n_ch, n, end", [(11, 2, 6, 12), (0, 1, 3, 3), (100, 2**62, 8, 104)])
def test_short_data_names_the_first_channel_outside(length, n_ch, n, end):
    message = internal_error(qk.identify_frequencies_rust, np.ones(length), n_ch, n, 1.0)
    assert message == f"range end index {end} out of range for slice of length {length}"


def test_non_finite_samples_give_zero():
    x = sine(10)
    x[4] = math.nan
    assert ident([x, sine(20)], 100.0) == [0.0, 5.0]


POOLED = """
import numpy as np, qel_kernel as qk
rng = np.random.default_rng(3)
p = rng.normal(0, 3, 64 * 3000)
ph, amp = rng.uniform(-9, 9, 12 * 3000), rng.uniform(0, 2, 12 * 3000)
t = np.arange(4096)
data = np.concatenate([np.sin(t * f) + rng.normal(0, 1.5, 4096) for f in rng.uniform(0.01, 0.2, 40)])
out = [qk.compute_itpc_rust(p, 64, 3000), [qk.frequency_specificity_rust(p, 64, 3000, 3.0, 7.0)],
       qk.pac_matrix_compute(ph, amp, 3000, 12, 18),
       qk.carrier_decode_rust(rng.normal(size=40), rng.normal(size=300 * 300 * 40), 300),
       [qk.identify_frequencies_rust(data[c * 4096:(c + 1) * 4096], 1, 4096, 1.0)[0] for c in range(40)],
       np.concatenate(qk.extract_phases_rust(rng.normal(size=700), 3.0)[:3])]
out = np.concatenate([np.asarray(o, dtype=float) for o in out]).tobytes()
"""


def test_results_do_not_depend_on_the_number_of_workers():
    same_on_one_cpu(POOLED)
