"""Partial information decomposition (minimum specific information) of the
binned mean phases of two groups about the network's mean phase, with dense
NumPy count tables."""
import numpy as np

from reference.integrators import TWO_PI


def _codes(rows, cols, n_bins):
    m = np.arctan2(np.sin(rows[:, cols]).sum(axis=1) / len(cols), np.cos(rows[:, cols]).sum(axis=1) / len(cols))
    r = np.fmod(m, TWO_PI)
    r = np.where(r < 0, r + TWO_PI, r)
    return np.minimum(n_bins - 1, np.floor(r / (TWO_PI / n_bins))).astype(np.int64)


def _mi(pxy):
    px, py = pxy.sum(axis=1, keepdims=True), pxy.sum(axis=0, keepdims=True)
    nz = pxy > 0
    return max(0.0, float((pxy[nz] * np.log(pxy[nz] / (px * py)[nz])).sum()))


def decomposition(history, t, n, group_a, group_b, n_bins=32):
    a = [int(g) for g in group_a if 0 <= g < n]
    b = [int(g) for g in group_b if 0 <= g < n]
    if not a or not b or t == 0 or n == 0 or n_bins == 0:
        return 0.0, 0.0
    rows = np.asarray(history[: t * n], dtype=float).reshape(t, n)
    T, A, B = _codes(rows, list(range(n)), n_bins), _codes(rows, a, n_bins), _codes(rows, b, n_bins)
    p = np.zeros((n_bins, n_bins, n_bins))
    np.add.at(p, (A, B, T), 1.0 / t)
    p_at, p_bt = p.sum(axis=1), p.sum(axis=0)
    i_ta, i_tb, i_tab = _mi(p_at), _mi(p_bt), _mi(p.reshape(n_bins * n_bins, n_bins))
    p_t = p_at.sum(axis=0)

    def specific(pxt):  # I(T = target; X) for every target bin
        px = pxt.sum(axis=1, keepdims=True)
        with np.errstate(divide="ignore", invalid="ignore"):
            terms = np.where(pxt > 0, pxt / p_t * np.log(pxt / px / p_t), 0.0)
        return terms.sum(axis=0)

    seen = p_t > 0
    red = max(0.0, float((p_t[seen] * np.minimum(specific(p_at), specific(p_bt))[seen]).sum()))
    return red, max(0.0, i_tab - i_ta - i_tb + red)
