"""Delay embedding parameters from their definitions: the mutual-information
profile from exact pair counts (NumPy), and false nearest neighbours from
SciPy's squared distances."""
import math

import numpy as np
from scipy.spatial.distance import cdist


def bin_codes(x, n_bins):
    """Codes against the global extremes with NaN passed over, saturating, the maximum in the last bin."""
    x = np.asarray(x, dtype=float)
    lo, hi = math.inf, -math.inf
    if x.size and not np.isnan(x).all():
        lo, hi = float(np.nanmin(x)), float(np.nanmax(x))
    if hi - lo == 0.0:
        return None
    with np.errstate(invalid="ignore"):
        v = (x - lo) / ((hi - lo) / n_bins)
    v = np.where(np.isnan(v), 0.0, np.clip(v, 0.0, n_bins - 1))
    return np.trunc(v).astype(np.int64)


def mutual_information(codes, k, n_bins):
    """The plug-in MI in nats, summed over the observed cells in row-major order."""
    n = codes.size - k
    a, b = codes[:n], codes[k:]
    cells, joint = np.unique(a * n_bins + b, return_counts=True)
    row = np.bincount(a, minlength=n_bins) if n_bins <= n else dict(zip(*np.unique(a, return_counts=True)))
    col = np.bincount(b, minlength=n_bins) if n_bins <= n else dict(zip(*np.unique(b, return_counts=True)))
    inv = 1.0 / n
    mi = 0.0
    for cell, c in zip(cells.tolist(), joint.tolist()):
        ca, cb = divmod(cell, n_bins)
        pab, pa, pb = c * inv, int(row[ca]) * inv, int(col[cb]) * inv
        mi = mi + pab * math.log(pab / (pa * pb))
    return mi


def optimal_delay(x, max_lag=100, n_bins=32):
    lags = min(len(x) // 2, max_lag)
    if lags < 2 or n_bins == 0:
        return 1
    codes = bin_codes(x, n_bins)
    if codes is None:
        return 1
    mi = [mutual_information(codes, k, n_bins) for k in range(lags)]
    return next((k for k in range(1, lags - 1) if mi[k - 1] > mi[k] < mi[k + 1]), 1)


def nearest_neighbours(emb):
    """(distance, index) per row with the tie rule s < best*best, from cdist's squared distances."""
    s = cdist(emb, emb, "sqeuclidean")
    np.fill_diagonal(s, math.inf)
    out = []
    for i, row in enumerate(s):
        best, idx = math.inf, 0
        for j in np.flatnonzero(row <= row.min()).tolist() if len(row) > 1 else []:
            if row[j] < best * best:
                best, idx = math.sqrt(row[j]), j
        out.append((best, idx))
    return out


def optimal_dimension(x, delay, max_dim=10, rtol=15.0, atol=2.0):
    x = np.asarray(x, dtype=float)
    t = x.size
    sigma = math.nan
    if t:
        mean = sum(x.tolist()) / t
        var = sum(((v - mean) * (v - mean) for v in x.tolist())) / t
        if var == 0.0:
            return 1
        sigma = math.sqrt(var)
    if max_dim == 0:
        return 0
    d = 1
    while True:
        if t - d * delay < 2 or delay == 0:
            return d
        n = t - (d - 1) * delay
        emb = x[np.arange(n)[:, None] + delay * np.arange(d)]
        count = false = 0
        for i, (r, j) in enumerate(nearest_neighbours(emb)):
            if r == 0.0 or r == math.inf or i + d * delay >= t or j + d * delay >= t:
                continue
            count += 1
            diff = x[i + d * delay] - x[j + d * delay]
            false += abs(diff) / r > rtol or math.sqrt(diff * diff + r * r) / sigma > atol
        if count == 0 or false / count < 0.01:
            return d
        if d >= max_dim:
            return max_dim
        d += 1
