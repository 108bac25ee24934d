"""Signal metrics from their definitions: plain loops with the math module
(bit for bit on small inputs), and the NumPy forms a user would write."""
import math

import numpy as np

from reference.integrators import TWO_PI


def _phasor_sums(phases, n, t, scale=None):
    """Per time point, sums of cos and sin over the trials in trial order."""
    out = []
    for j in range(t):
        c = s = 0.0
        for k in range(n):
            p = phases[k * t + j]
            if scale is not None:
                p = p * scale
            c += math.cos(p)
            s += math.sin(p)
        out.append((c, s))
    return out


def itpc(phases, n, t):
    if n == 0 or t == 0:
        return []
    if n == 1:
        return [1.0] * t
    inv = 1.0 / n
    return [math.sqrt((s * inv) ** 2 + (c * inv) ** 2) for c, s in _phasor_sums(phases, n, t)]


def itpc_persistence(phases, n, t, pauses):
    kept = [i for i in pauses if i >= 0]
    if not kept or n == 0 or t == 0:
        return 0.0
    course = itpc(phases, n, t)
    picked = [course[i] for i in kept if i < t]
    total = 0.0
    for v in picked:
        total += v
    return total / len(picked) if picked else 0.0


def frequency_specificity(phases, n, t, target, control):
    if t == 0 or n == 0 or target <= 0 or control <= 0:
        return 0.0
    inv = 1.0 / n

    def mean_coherence(scale):
        total = 0.0
        for c, s in _phasor_sums(phases, n, t, scale):
            total += math.sqrt(c * c + s * s) * inv
        return total / t

    a = mean_coherence(None)
    b = mean_coherence(control / target)
    if b < 1e-12:
        return math.inf if a > 0 else 0.0
    return a / b


def modulation_index(theta, amp, n_bins):
    if n_bins == 0 or not len(theta) or not len(amp):
        return 0.0
    width = TWO_PI / n_bins
    sums = [0.0] * n_bins
    counts = [0] * n_bins
    for x, a in zip(theta, amp):
        w = math.fmod(x, TWO_PI)
        if w < 0:
            w += TWO_PI
        q = w / width
        b = 0 if not q > 0 else min(int(q), n_bins - 1)
        sums[b] += a
        counts[b] += 1
    means = [s / c if c else 0.0 for s, c in zip(sums, counts)]
    total = 0.0
    for m in means:
        total += m
    if total <= 0:
        return 0.0
    kl = 0.0
    for m in means:
        p = m / total
        if p > 0:
            kl += p * math.log(p * n_bins)
    mi = kl / math.log(n_bins) if n_bins > 1 else math.nan
    if mi < 0:
        mi = 0.0
    if mi > 1:
        mi = 1.0
    return mi


def pac_matrix(phases, amps, t, n, n_bins):
    if len(phases) < n * t or len(amps) < n * t or t == 0 or n == 0:
        return [0.0] * (n * n)
    return [modulation_index([phases[k * n + i] for k in range(t)], [amps[k * n + j] for k in range(t)], n_bins)
            for i in range(n) for j in range(n)]


def envelope(x, w):
    n = len(x)
    if n == 0 or w == 0:
        return list(x)
    if w > n:
        return [0.0] * n
    c = [0.0]
    for v in x:
        c.append(v * v + c[-1])
    r = [math.sqrt((c[j + w] - c[j]) / w) for j in range(n - w + 1)]
    return [r[0]] * (w - 1) + r


def envelope_numpy(x, w):
    """The cumulative-sum form with NumPy, for 1 <= w <= len(x)."""
    with np.errstate(over="ignore", invalid="ignore"):
        c = np.concatenate(([0.0], np.cumsum(x * x)))
        r = np.sqrt((c[w:] - c[:-w]) / w)
    return np.concatenate((np.full(w - 1, r[0]), r))


def softplus(x):
    if x > 20.0:
        return x
    if x < -20.0:
        return 0.0
    return math.log(math.exp(x) + 1.0)


def carrier_decode(z, a, n):
    m = len(z)
    k = []
    for r in range(n * n):
        if m == 0:
            k.append(math.log(2.0))
            continue
        x = 0.0
        for j in range(m):
            x += a[r * m + j] * z[j]
        k.append(softplus(x))
    for i in range(n):
        k[i * n + i] = 0.0
    return k


def channel_frequency(s, fs):
    n = len(s)
    if n < 6:
        return 0.0
    total = -0.0
    for v in s:
        total += v
    mean = total / n
    x = [v - mean for v in s]
    r0 = -0.0
    for v in x:
        r0 += v * v
    if r0 < 1e-15:
        return 0.0
    half = n // 2
    acf = []
    for lag in range(half):
        acc = 0.0
        for i in range(n - lag):
            acc += x[i] * x[i + lag]
        acf.append(acc / r0)
    start = next((lag + 1 for lag in range(1, half) if acf[lag] <= 0), 2)
    for lag in range(start, half - 1):
        if acf[lag] > acf[lag - 1] and acf[lag] > 0 and acf[lag] >= acf[lag + 1]:
            return fs / lag
    return 0.0


def merge_frequencies(freqs, fs, n):
    freqs = sorted(freqs)
    out = freqs[:1]
    for v in freqs[1:]:
        if abs(v - out[-1]) > fs / n:
            out.append(v)
    return out


def identify_frequencies(data, n_ch, n, fs):
    if n_ch == 0 or n < 3:
        return []
    return merge_frequencies([channel_frequency(data[c * n:(c + 1) * n], fs) for c in range(n_ch)], fs, n)


def classify_sleep_stage(r, desync):
    if r >= 0.7:
        return 3
    if r >= 0.4:
        return 2
    if r >= 0.3:
        return 4 if desync else 1
    if r >= 0.2:
        return 4 if desync else 0
    return 0
