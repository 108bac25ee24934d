"""Per-sample phases of a real signal through its analytic signal."""
import numpy as np
import pytest
import scipy.signal

import qel_kernel as qk
from reference import phase_extract as ref

def extract(x, fs):
    return qk.extract_phases_rust(np.asarray(x, dtype=float), fs)


@pytest.mark.parametrize("n", [0, 3])
def test_short_input(n):
    p, a, f, dom = extract(np.ones(n), 10.0)
    assert (p.size, a.size, f.size, dom) == (0, 0, 0, 0.0) and p.dtype == np.float64


@pytest.mark.parametrize("n, step, fs, freq", [
    (8, np.pi / 2, 8.0, 2.0),  # two cycles in eight samples
    (5, 4 * np.pi / 5, 5.0, 2.0),  # odd n, the tone in the highest positive bin
    (8, np.pi / 2, -8.0, -2.0),  # a negative rate flips the signs
])
def test_tones(n, step, fs, freq):
    t = np.arange(n)
    p, a, f, d = extract(np.cos(step * t), fs)
    assert d == pytest.approx(freq) and f[0] == 0.0 and np.allclose(f[1:], freq, atol=1e-9)
    assert np.allclose(a, 1.0, atol=1e-12)
    assert np.abs(np.angle(np.exp(1j * (p - step * t)))).max() < 1e-9  # on the circle: 0 may come out below 2pi


@pytest.mark.parametrize("x, fs, dom", [
    (np.zeros(4), 100.0, 25.0),  # silent: no bin beats 0, bin 1 stays
    (3 + np.cos(np.pi * np.arange(8) / 2), 8.0, 2.0),  # an offset never wins: bin 0 is no candidate
    ([1.0] + [0.0] * 7, 8.0, 1.0),  # an impulse: every bin ties, the lowest wins
    ([1.0, np.nan, 0, 0, 0], 5.0, 1.0),  # NaN magnitudes never win
])
def test_dominant_bin_rules(x, fs, dom):
    p, a, f, d = extract(x, fs)
    assert d == dom
    if np.isnan(x).any():
        assert np.isnan(p).all() and np.isnan(a).all() and f[0] == 0.0 and np.isnan(f[1:]).all()
    if not np.any(x):
        assert not (p.any() or a.any() or f.any())


def same_bits(got, want):
    return all(np.array_equal(np.asarray(g), np.asarray(w), equal_nan=True) for g, w in zip(got, want, strict=True))


@pytest.mark.parametrize("n", [4, 5, 6, 7, 16, 17, 257, 1030])  # 257 on the pool, 1030 in two blocks
def test_bit_for_bit_against_reference(n):
    rng = np.random.default_rng(n)
    # Alternating signs take steps of exactly +-pi, which the unwrapping keeps.
    for x in (rng.normal(size=n), np.cos(1.3 * np.arange(n)) * 1e3, (-1.0) ** np.arange(n))[:1 if n > 1000 else 3]:
        fs = float(rng.uniform(-50, 50))
        assert same_bits(extract(x, fs), ref.extract_phases(x.tolist(), fs))


@pytest.mark.parametrize("n", [33, 64, 1023])
def test_close_to_the_fft_analytic_signal(n):
    rng = np.random.default_rng(n)
    t = np.arange(n)
    x = 2 * np.cos(0.21 * t + 1) + 0.5 * np.sin(0.9 * t) + 0.1 * rng.normal(size=n)
    p, a, f, d = extract(x, 100.0)
    z = scipy.signal.hilbert(x)
    assert np.abs(a * np.exp(1j * p) - z).max() < 1e-9
    strong = np.abs(z) > 1e-3
    assert np.abs(np.angle(np.exp(1j * (p - np.angle(z)))))[strong].max() < 1e-9  # phases on the circle
    spectrum = np.abs(np.fft.fft(x))[1:n // 2 + 1]
    assert d == 100.0 * (1 + int(np.argmax(spectrum))) / n

