"""Signal metrics against the NumPy (and SciPy) code a user would write instead."""
import math
import os
import sys

import numpy as np
import scipy.signal

import qel_kernel as qk
from harness import compare, header

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from reference import signal as ref  # noqa: E402

TWO_PI = 6.283185307179586


def np_itpc(p):
    return np.abs(np.exp(1j * p).mean(0))


def np_itpc_cos_sin(p):
    return np.hypot(np.cos(p).mean(0), np.sin(p).mean(0))


def np_specificity(p, target, control, itpc=np_itpc):
    a = itpc(p).mean()
    b = itpc(p * (control / target)).mean()
    return (math.inf if a > 0 else 0.0) if b < 1e-12 else a / b


def np_pac_matrix(ph, amp, t, n, nb):
    p = np.fmod(ph[: n * t].reshape(t, n), TWO_PI)
    p[p < 0] += TWO_PI
    bins = np.minimum((p / (TWO_PI / nb)).astype(np.int64), nb - 1)
    a = amp[: n * t].reshape(t, n)
    out = np.empty((n, n))
    for i in range(n):
        b = bins[:, i]
        counts = np.bincount(b, minlength=nb)
        for j in range(n):
            sums = np.bincount(b, weights=a[:, j], minlength=nb)
            means = np.where(counts > 0, sums / np.maximum(counts, 1), 0.0)
            total = means.sum()
            if total <= 0:
                out[i, j] = 0.0
                continue
            q = means / total
            q = q[q > 0]
            out[i, j] = min(1.0, max(0.0, float(np.sum(q * np.log(q * nb)) / math.log(nb))))
    return out.ravel().tolist()


def np_channel_frequency(s, fs):
    """The same peak rule over np.correlate's direct autocorrelation."""
    n = len(s)
    if n < 6:
        return 0.0
    x = s - s.mean()
    r0 = float(x @ x)
    if r0 < 1e-15:
        return 0.0
    half = n // 2
    acf = np.correlate(x, x, "full")[n - 1:n - 1 + half] / r0
    return peak_frequency(acf, fs)


def peak_frequency(acf, fs):
    half = len(acf)
    neg = np.nonzero(acf[1:] <= 0)[0]
    start = int(neg[0]) + 2 if len(neg) else 2
    mid = acf[start:half - 1]
    ok = (mid > acf[start - 1:half - 2]) & (mid > 0) & (mid >= acf[start + 1:half])
    hit = np.nonzero(ok)[0]
    return fs / (start + int(hit[0])) if len(hit) else 0.0


def np_identify(data, n_ch, n, fs, channel=np_channel_frequency):
    return ref.merge_frequencies([channel(data[c * n:(c + 1) * n], fs) for c in range(n_ch)], fs, n)


def fft_channel_frequency(s, fs):
    x = s - s.mean()
    r0 = float(x @ x)
    if len(s) < 6 or r0 < 1e-15:
        return 0.0
    half = len(s) // 2
    acf = scipy.signal.correlate(x, x, mode="full", method="fft")[len(s) - 1:len(s) - 1 + half] / r0
    return peak_frequency(acf, fs)


def np_carrier(z, a, n):
    x = a[: n * n * len(z)].reshape(n * n, len(z)) @ z
    with np.errstate(over="ignore"):
        k = np.where(x > 20.0, x, np.where(x < -20.0, 0.0, np.log(np.exp(x) + 1.0)))
    k[:: n + 1] = 0.0
    return k


def main():
    rng = np.random.default_rng(0)
    header("signal metrics")

    n, t = 64, 16384
    p = rng.uniform(-4, 10, (n, t))
    flat = p.ravel()
    compare(f"compute_itpc_rust N={n} T={t}", lambda: qk.compute_itpc_rust(flat, n, t), lambda: np_itpc(p), 2)
    compare("  same, against np.cos and np.sin means", lambda: qk.compute_itpc_rust(flat, n, t),
            lambda: np_itpc_cos_sin(p))
    compare(f"frequency_specificity_rust N={n} T={t}", lambda: qk.frequency_specificity_rust(flat, n, t, 4.0, 7.0),
            lambda: np_specificity(p, 4.0, 7.0), 2)
    compare("  same, against np.cos and np.sin means",
            lambda: qk.frequency_specificity_rust(flat, n, t, 4.0, 7.0),
            lambda: np_specificity(p, 4.0, 7.0, np_itpc_cos_sin))

    n, t, nb = 32, 4096, 18
    ph, amp = rng.uniform(-10, 10, n * t), rng.uniform(0, 2, n * t)
    compare(f"pac_matrix_compute n={n} t={t} bins={nb}", lambda: qk.pac_matrix_compute(ph, amp, t, n, nb),
            lambda: np_pac_matrix(ph, amp, t, n, nb), 5)

    n_ch, n = 8, 4096
    tt = np.arange(n)
    data = np.concatenate([np.sin(tt * f) + rng.normal(0, 0.5, n) for f in rng.uniform(0.01, 0.3, n_ch)])
    compare(f"identify_frequencies_rust {n_ch}x{n} (np.correlate)",
            lambda: qk.identify_frequencies_rust(data, n_ch, n, 250.0), lambda: np_identify(data, n_ch, n, 250.0), 3)
    compare("  same, against an FFT autocorrelation (information)",
            lambda: qk.identify_frequencies_rust(data, n_ch, n, 250.0),
            lambda: np_identify(data, n_ch, n, 250.0, fft_channel_frequency))

    x = rng.normal(0, 1, 10**6)
    compare("extract_envelope_rust 10^6 window 50", lambda: qk.extract_envelope_rust(x, 50),
            lambda: ref.envelope_numpy(x, 50), 2)

    n, m = 256, 64
    z, a = rng.normal(0, 0.3, m), rng.normal(0, 1, n * n * m)
    compare(f"carrier_decode_rust n={n} m={m}", lambda: qk.carrier_decode_rust(z, a, n), lambda: np_carrier(z, a, n), 1)


if __name__ == "__main__":
    main()
