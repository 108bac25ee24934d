"""Recurrence matrices and recurrence quantification, written from the definitions with NumPy.

A pair of points recurs when its squared distance (Euclidean, or the sum of squared chords
4 sin^2((x - y)/2) per angular coordinate) is <= eps^2. Lines are maximal runs of non-zero cells along
the diagonals of both triangles (the main one unless excluded) and along the columns; the run-lengths are
found for all lines at once by laying each line out as one row of a padded array.
"""
import math

import numpy as np


def squared_distances(a, b, t, d, angular):
    x, y = np.asarray(a).reshape(t, d), np.asarray(b).reshape(t, d)
    diff = x[:, None, :] - y[None, :, :]
    if angular:
        s = np.sin(diff * 0.5)
        return (s * 4.0 * s).sum(axis=2)
    return (diff * diff).sum(axis=2)


def _run_lengths(lines):
    """Lengths of the non-empty runs of every row of a boolean 2-D array."""
    padded = np.zeros((lines.shape[0], lines.shape[1] + 2), dtype=np.int8)
    padded[:, 1:-1] = lines
    edges = np.diff(padded, axis=1)
    starts = np.flatnonzero(edges == 1)
    ends = np.flatnonzero(edges == -1)
    return ends - starts


def _histogram(lines, n_lines):
    """Histogram of recorded lengths: one record per zero cell and one per line end."""
    lengths = _run_lengths(lines)
    hist = np.bincount(lengths, minlength=1).astype(np.int64)
    n_zero = lines.size - int(lines.sum())
    hist[0] = n_zero + n_lines - len(lengths)
    return hist


def _lines(hist, min_len):
    lens = np.arange(len(hist))
    keep = (lens >= min_len) & (hist > 0)
    count = int(hist[keep].sum())
    total = int((hist[keep] * lens[keep]).sum())
    longest = int(lens[keep].max()) if keep.any() else 0
    return count, total, longest, [(int(l), int(c)) for l, c in zip(lens[keep], hist[keep])]


def rqa(flat, t, l_min=2, v_min=2, exclude_main_diagonal=True):
    if t == 0:
        return (0.0, 0.0, 0.0, 0, 0.0, 0.0, 0.0, 0)
    m = np.asarray(flat).reshape(t, t) != 0
    if exclude_main_diagonal:
        m = m.copy()
        np.fill_diagonal(m, False)
    n_rec = int(m.sum())
    den = t * t - (t if exclude_main_diagonal else 0)
    rr = n_rec / den if den else 0.0

    # Diagonal j - i = k as row k + t - 1 of a skewed array, cells at position min(i, j); the cells
    # beyond a diagonal's length are dropped from the zero count below.
    i, j = np.indices((t, t))
    skew = np.zeros((2 * t - 1, t), dtype=bool)
    skew[(j - i + t - 1).ravel(), np.minimum(i, j).ravel()] = m.ravel()
    rows = [q for q in range(2 * t - 1) if not (exclude_main_diagonal and q == t - 1)]
    skew = skew[rows]
    hist_d = _histogram(skew, len(rows))
    hist_d[0] -= sum(t - (t - abs(q - (t - 1))) for q in rows)  # padding cells are not cells
    hist_v = _histogram(m.T, t)

    count, total, max_diag, dist = _lines(hist_d, l_min)
    det = avg = ent = 0.0
    if count:
        det = total / n_rec if n_rec else 0.0
        avg = total / count
        ent = -0.0
        for _, c in dist:
            p = c / count
            ent = ent - math.log(p) * p
    else:
        max_diag = 0
    count_v, total_v, max_vert, _ = _lines(hist_v, v_min)
    lam = trap = 0.0
    if count_v:
        lam = total_v / n_rec if n_rec else 0.0
        trap = total_v / count_v
    else:
        max_vert = 0
    return (rr, det, avg, max_diag, ent, lam, trap, max_vert)
