"""Delay embedding, the mutual-information delay and the false-nearest-neighbour
dimension against the NumPy and SciPy code a user would write instead."""
import math
import os
import subprocess
import sys

import numpy as np
from scipy.spatial import cKDTree
from scipy.spatial.distance import cdist

import qel_kernel as qk
from harness import best_time, compare, cores, fmt, header


def np_embed(x, tau, m):
    n = x.size - (m - 1) * tau
    return x[np.arange(n)[:, None] + tau * np.arange(m)]


def np_delay(x, max_lag, nb):
    lo, hi = np.nanmin(x), np.nanmax(x)
    codes = np.minimum(((x - lo) / ((hi - lo) / nb)).astype(np.int64), nb - 1)
    lags = min(x.size // 2, max_lag)
    mi = []
    for k in range(lags):
        n = x.size - k
        joint = np.bincount(codes[:n] * nb + codes[k:], minlength=nb * nb).reshape(nb, nb) / n
        pa, pb = joint.sum(1), joint.sum(0)
        nz = joint > 0
        mi.append(float((joint[nz] * np.log(joint[nz] / np.outer(pa, pb)[nz])).sum()))
    return next((k for k in range(1, lags - 1) if mi[k - 1] > mi[k] < mi[k + 1]), 1)


def dimension_search(x, delay, max_dim, neighbours, rtol=15.0, atol=2.0):
    """The false-nearest-neighbour test: the first dimension where under 1% of the rows' nearest neighbours are
    false. neighbours(emb) gives every row i its nearest other row j at distance r."""
    sigma = x.std()
    for d in range(1, max_dim + 1):
        if x.size - d * delay < 2:
            return d
        i, j, r = neighbours(np_embed(x, delay, d))
        ok = (r > 0) & np.isfinite(r) & (i + d * delay < x.size) & (j + d * delay < x.size)
        diff = x[i[ok] + d * delay] - x[j[ok] + d * delay]
        false = (np.abs(diff) / r[ok] > rtol) | (np.sqrt(diff * diff + r[ok] ** 2) / sigma > atol)
        if ok.sum() == 0 or false.mean() < 0.01:
            return d
    return max_dim


def cdist_neighbours(emb):
    dist = cdist(emb, emb)
    np.fill_diagonal(dist, np.inf)
    j = dist.argmin(1)
    return np.arange(j.size), j, dist[np.arange(j.size), j]


def kdtree_neighbours(emb):
    """SciPy's k-d tree, two neighbours per row, all workers."""
    dist, idx = cKDTree(emb).query(emb, k=2, workers=-1)
    i = np.arange(emb.shape[0])
    first_is_self = idx[:, 0] == i
    return i, np.where(first_is_self, idx[:, 1], idx[:, 0]), np.where(first_is_self, dist[:, 1], dist[:, 0])


def np_dimension(x, delay, max_dim):
    return dimension_search(x, delay, max_dim, cdist_neighbours)


def kdtree_dimension(x, delay, max_dim):
    return dimension_search(x, delay, max_dim, kdtree_neighbours)


PINNED = """
import os, sys, numpy as np
if sys.argv[1] == "1":
    os.sched_setaffinity(0, {sorted(os.sched_getaffinity(0))[0]})
sys.path.insert(0, sys.argv[2])
import qel_kernel as qk
from harness import best_time
x = np.random.default_rng(0).normal(size=int(sys.argv[3]))
print(best_time(lambda: qk.optimal_dimension_rust(x, 1, 5), repeat=3))
"""


def pinned_time(one, t):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    out = subprocess.run([sys.executable, "-c", PINNED, "1" if one else "all", os.path.dirname(__file__), str(t)],
                         env=env, capture_output=True, text=True, check=True).stdout
    return float(out)


def main():
    rng = np.random.default_rng(0)
    header("delay embedding")
    x = rng.normal(size=10**6)
    compare("delay_embed_rust T=10^6 m=5 tau=3", lambda: qk.delay_embed_rust(x, 3, 5), lambda: np_embed(x, 3, 5), 3)

    t = np.arange(20000)
    s = np.sin(0.01 * t) + rng.normal(0, 0.3, t.size)
    assert qk.optimal_delay_rust(s, 100, 32) == np_delay(s, 100, 32)
    compare("optimal_delay_rust T=20000 max_lag=100 bins=32", lambda: qk.optimal_delay_rust(s, 100, 32),
            lambda: np_delay(s, 100, 32), 10)

    noise = rng.normal(size=2000)
    assert qk.optimal_dimension_rust(noise, 1, 5) == np_dimension(noise, 1, 5)
    compare("optimal_dimension_rust noise T=2000 max_dim=5", lambda: qk.optimal_dimension_rust(noise, 1, 5),
            lambda: np_dimension(noise, 1, 5), 5)

    for name, sig, max_dim in (("noise", rng.normal(size=8000), 5), ("noise", rng.normal(size=8000), 8),
                               ("sine+noise", np.sin(0.05 * np.arange(8000)) + rng.normal(0, 0.05, 8000), 10)):
        assert qk.optimal_dimension_rust(sig, 1, max_dim) == kdtree_dimension(sig, 1, max_dim)
        compare(f"FNN {name} T=8000 max_dim={max_dim} vs cKDTree",
                lambda: qk.optimal_dimension_rust(sig, 1, max_dim), lambda: kdtree_dimension(sig, 1, max_dim), 1)

    t_one, t_all = pinned_time(True, 8000), pinned_time(False, 8000)
    target = 0.75 * cores()
    ratio = t_one / t_all
    print(f"{'optimal_dimension_rust T=8000 over one worker':52s} {fmt(t_all):>11s} {fmt(t_one):>11s} "
          f"{ratio:8.2f}x  >= {target:g}x {'ok' if ratio >= target else 'MISSED'}")


if __name__ == "__main__":
    main()
