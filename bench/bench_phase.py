"""Phase extraction from physical, informational and analytic channels against NumPy."""
import numpy as np
import scipy.signal

import qel_kernel as qk
from harness import compare, header

TWO_PI = 2 * np.pi


def np_physical(x, y, fs):
    phi = np.arctan2(y, x)
    mod = np.hypot(x, y)
    amp = mod.mean()
    quality = min(max(1.0 - mod.std() / amp, 0.0), 1.0)
    f = np.gradient(np.unwrap(phi)) * fs / TWO_PI
    return phi[-1] % TWO_PI, np.median(f) * TWO_PI, amp, quality


def np_event(t):
    dt = np.diff(t)
    omega = np.median(1.0 / dt) * TWO_PI
    mu = dt.mean()
    return (omega * (t[-1] - t[0])) % TWO_PI, omega, 1.0 / (dt.std() / mu + 1.0)


def np_direct_phases(x, fs):
    """The same direct transforms: per bin, cos and sin of its angle vector and
    two dot products; bins above n/2 skipped as ours does."""
    n = len(x)
    m = n // 2
    j = np.arange(n, dtype=float)
    spectrum = np.empty(m + 1, dtype=complex)
    for k in range(m + 1):
        a = (j * (k * -TWO_PI)) / n
        spectrum[k] = complex(x @ np.cos(a), x @ np.sin(a))
    f_dom = fs * (1 + int(np.argmax(np.abs(spectrum[1:])))) / n
    h = spectrum.copy()
    h[1:m if n % 2 == 0 else m + 1] *= 2
    k = np.arange(m + 1, dtype=float) * TWO_PI
    z = np.empty(n, dtype=complex)
    for t in range(n):
        b = (k * t) / n
        c, s = np.cos(b), np.sin(b)
        z[t] = complex(h.real @ c - h.imag @ s, h.imag @ c + h.real @ s) / n
    u = np.unwrap(np.angle(z))
    return np.angle(z) % TWO_PI, np.abs(z), np.concatenate(([0.0], np.diff(u) * fs / TWO_PI)), f_dom


def np_fft_phases(x, fs):
    z = scipy.signal.hilbert(x)
    u = np.unwrap(np.angle(z))
    return np.angle(z) % TWO_PI, np.abs(z), np.concatenate(([0.0], np.diff(u) * fs / TWO_PI))


def main():
    rng = np.random.default_rng(0)
    header("phase extraction")
    n = 10**6
    t = np.arange(n) * 0.01
    x = np.cos(t) * (1 + 0.1 * rng.normal(size=n))
    y = np.sin(t) * (1 + 0.1 * rng.normal(size=n))
    compare("physical_extract, 10^6 samples", lambda: qk.physical_extract(x, y, 100.0),
            lambda: np_physical(x, y, 100.0), 1)
    stamps = np.cumsum(rng.exponential(1.0, n))
    compare("event_phase, 10^6 time stamps", lambda: qk.event_phase(stamps), lambda: np_event(stamps), 2)
    sig = np.cos(0.3 * np.arange(4096)) + 0.2 * rng.normal(size=4096)
    compare("extract_phases_rust n=4096 vs direct NumPy transform", lambda: qk.extract_phases_rust(sig, 100.0),
            lambda: np_direct_phases(sig, 100.0), 4, repeat=7)
    compare("extract_phases_rust n=4096 vs scipy.signal.hilbert (FFT, info)",
            lambda: qk.extract_phases_rust(sig, 100.0), lambda: np_fft_phases(sig, 100.0), None, repeat=3)


if __name__ == "__main__":
    main()
