"""Phase transfer entropy with a history of one step, by counting on n_bins equal bins of the circle:
TE(x -> y) = H(y_{t+1} | y_t) - H(y_{t+1} | y_t, x_t), clamped at 0, in nats.

`transfer_entropy` is plain Python with the table's non-zero cells visited in ascending order (bit for
bit); `transfer_entropy_numpy` counts with np.bincount (tolerance oracle and benchmark reference).
"""
import math
from collections import Counter

import numpy as np

TWO_PI = 6.283185307179586


def bin_code(x, n_bins):
    w = math.fmod(math.fmod(x, TWO_PI) + TWO_PI, TWO_PI) if math.isfinite(x) else math.nan
    q = w / (TWO_PI / n_bins)
    code = 0 if not q > 0.0 else (2**64 - 1 if q >= 2.0**64 else int(q))
    return min(code, n_bins - 1)


def _conditional_entropy(pairs):
    """H(target | condition) from (condition, target) samples."""
    counts = Counter(pairs)
    per_cond = Counter()
    for (c, _), m in counts.items():
        per_cond[c] += m
    total, h_sum = len(pairs), 0.0
    for c in sorted(per_cond):
        n_c = per_cond[c]
        if n_c < 2:
            continue
        h = 0.0
        for key in sorted(k for k in counts if k[0] == c):
            p = counts[key] / n_c
            h = h - math.log(p) * p
        h_sum = h_sum + (n_c / total) * h
    return h_sum


def transfer_entropy(source, target, n_bins):
    n = min(len(source), len(target))
    if n_bins == 0 or n < 3:
        return 0.0
    s = [bin_code(v, n_bins) for v in source[:n - 1]]
    y = [bin_code(v, n_bins) for v in target[:n - 1]]
    f = [bin_code(v, n_bins) for v in target[1:n]]
    h1 = _conditional_entropy(list(zip(y, f)))
    h2 = _conditional_entropy(list(zip(zip(y, s), f)))
    d = h1 - h2
    return d if d > 0.0 else 0.0


def _codes_numpy(x, n_bins):
    w = np.fmod(np.fmod(x, TWO_PI) + TWO_PI, TWO_PI)
    return np.minimum(np.nan_to_num(w / (TWO_PI / n_bins), nan=0.0).astype(np.int64), n_bins - 1)


def _h_numpy(cond, target, n_cond, k):
    joint = np.bincount(cond * k + target, minlength=n_cond * k).reshape(n_cond, k).astype(float)
    n_c = joint.sum(axis=1)
    keep = n_c >= 2
    p = joint[keep] / n_c[keep, None]
    with np.errstate(divide="ignore", invalid="ignore"):
        h = -np.where(p > 0, p * np.log(p), 0.0).sum(axis=1)
    return float((n_c[keep] / len(target) * h).sum())


def transfer_entropy_numpy(source, target, n_bins):
    n = min(len(source), len(target))
    if n_bins == 0 or n < 3:
        return 0.0
    s = _codes_numpy(np.asarray(source[:n - 1]), n_bins)
    c = _codes_numpy(np.asarray(target[:n]), n_bins)
    y, f = c[:-1], c[1:]
    k = int(f.max()) + 1
    d = _h_numpy(y, f, n_bins, k) - _h_numpy(y * n_bins + s, f, n_bins * n_bins, k)
    return max(d, 0.0)


def transfer_entropy_matrix_numpy(series, n_osc, n_time, n_bins):
    x = np.asarray(series).reshape(n_osc, n_time)
    out = np.zeros((n_osc, n_osc))
    for i in range(n_osc):
        for j in range(n_osc):
            if i != j:
                out[i, j] = transfer_entropy_numpy(x[i], x[j], n_bins)
    return out.ravel()
