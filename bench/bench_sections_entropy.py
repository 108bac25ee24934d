"""Poincare sections, ordinal patterns, phase distances and persistence
entropy against NumPy/SciPy doing the same work.

The references are what a user would write: matrix-vector products and masks
for the sections, stable argsort and Lehmer codes for the patterns,
broadcasting for the distances and SciPy's minimum spanning tree for the
barcode. The ordinal reference is the one the tests compare against.
"""
import math
import os
import sys

import numpy as np
from scipy.sparse.csgraph import minimum_spanning_tree

import qel_kernel as qk
from harness import compare, header, numba

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
from reference import opt_entropy  # noqa: E402

TAU = 2 * np.pi


def numpy_section(traj, t, d, normal, offset):
    x = traj.reshape(t, d)
    s = x @ (normal / np.linalg.norm(normal)) - offset
    s0, s1 = s[:-1], s[1:]
    k = np.nonzero((s0 < 0) & (s1 >= 0))[0]
    diff = s1[k] - s0[k]
    frac = np.where(np.abs(diff) > 1e-15, -s0[k] / np.where(diff == 0, 1, diff), 0.5)
    return ((x[k + 1] - x[k]) * frac[:, None] + x[k]).ravel(), frac + k, len(k)


def numpy_phase_section(phases, t, n, idx, section_phase):
    rows = phases.reshape(t, n)
    d = np.diff(rows[:, idx])
    q = d / TAU
    r = np.trunc(q)
    r += np.where(np.abs(q - r) >= 0.5, np.sign(q), 0.0)
    u = np.cumsum(np.concatenate([rows[:1, idx], d - r * TAU]))
    rel = np.fmod(np.fmod(u - section_phase, TAU) + TAU, TAU)
    k = np.nonzero((rel[:-1] > np.pi) & (rel[1:] < np.pi))[0]
    num = TAU - rel[k]
    den = rel[k + 1] + num
    frac = np.where(den > 1e-15, np.clip(num / den, 0.0, 1.0), 0.5)
    step = rows[k + 1] - rows[k]
    step -= np.round(step / TAU) * TAU
    return (step * frac[:, None] + rows[k]).ravel(), frac + k, len(k)


def numpy_distances(phases):
    d = phases[None, :] - phases[:, None]
    return np.abs(np.arctan2(np.sin(d), np.cos(d))).ravel()


def numpy_npe(phases):
    bars = np.sort(minimum_spanning_tree(numpy_distances(phases).reshape(len(phases), -1)).data)
    p = bars / bars.sum()
    return -(p * np.log(p)).sum() / math.log(len(p))


def numba_ordinal():
    """Numba peers (prange over blocks of windows) of the ordinal codes (stable ranks, then Lehmer codes) and of
    the transition entropy (the codes, then per-block dense tables of (code, next code) pairs summed, the entropy
    over the cells in ascending order). None without numba."""
    nb = numba()
    if nb is None:
        return None, None
    block = 8192

    @nb.njit(parallel=True)
    def codes(x, dim, delay):
        w = max(0, x.size - (dim - 1) * delay)
        out = np.empty(w, np.int64)
        f = np.ones(dim, np.int64)
        for k in range(1, dim):
            f[k] = f[k - 1] * k
        for b in nb.prange((w + block - 1) // block):
            v = np.empty(dim)
            perm = np.empty(dim, np.int64)
            for t in range(b * block, min(w, (b + 1) * block)):
                for k in range(dim):
                    v[k] = x[t + k * delay]
                for k in range(dim):
                    r = 0
                    for j in range(dim):
                        if v[j] < v[k] or (j < k and v[j] == v[k]):
                            r += 1
                    perm[r] = k
                code = 0
                for i in range(dim):
                    c = 0
                    for j in range(i + 1, dim):
                        if perm[j] < perm[i]:
                            c += 1
                    code += c * f[dim - 1 - i]
                out[t] = code
        return out

    @nb.njit(parallel=True)
    def pair_counts(c, cells):
        n = c.size - 1
        nblocks = (n + block * 16 - 1) // (block * 16)
        tables = np.zeros((nblocks, cells * cells), np.int64)
        for b in nb.prange(nblocks):
            for t in range(b * block * 16, min(n, (b + 1) * block * 16)):
                tables[b, c[t] * cells + c[t + 1]] += 1
        return tables.sum(0)

    def transition_entropy(x, dim, delay):
        c = codes(x, dim, delay)
        if c.size < 2:
            return 0.0
        counts = pair_counts(c, math.factorial(dim))
        counts = counts[counts > 0].tolist()
        if len(counts) < 2:
            return 0.0
        n, h = float(c.size - 1), 0.0
        for k in counts:
            h -= (k / n) * math.log(k / n)
        return min(1.0, max(0.0, h / math.log(len(counts))))

    return codes, transition_entropy


def rss_peak_mib():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def npe_memory():
    """Growth of the process's peak resident size over one compute_npe call,
    taken first, before anything larger has raised the peak."""
    x = np.random.default_rng(0).uniform(0.0, TAU, 1500)
    before = rss_peak_mib()
    qk.compute_npe(x)
    edges = 1500 * 1499 // 2
    print(f"compute_npe N=1500: peak grew {rss_peak_mib() - before:.1f} MiB; {edges} edges at 16 bytes are "
          f"{edges * 16 / 2**20:.1f} MiB")


def main():
    npe_memory()
    rng = np.random.default_rng(0)
    header("Poincare sections")
    t, d = 10**6, 3
    traj = rng.normal(size=t * d)
    normal = np.array([0.3, -1.2, 2.0])
    compare("poincare_section_rust T=1e6 d=3", lambda: qk.poincare_section_rust(traj, t, d, normal, 0.1),
            lambda: numpy_section(traj, t, d, normal, 0.1), target=5)
    n = 8
    phases = np.mod(np.cumsum(rng.normal(0.4, 1.0, size=(t, n)), axis=0), TAU).ravel()
    compare("phase_poincare_rust T=1e6 N=8", lambda: qk.phase_poincare_rust(phases, t, n, 2, 1.0),
            lambda: numpy_phase_section(phases, t, n, 2, 1.0), target=3)

    header("ordinal patterns")
    x = rng.normal(size=10**6)
    compare("ordinal_pattern_sequence L=1e6 dim=5", lambda: qk.ordinal_pattern_sequence(x, 5, 1),
            lambda: opt_entropy.codes(x, 5, 1), target=4)
    nb_codes, nb_entropy = numba_ordinal()
    if nb_codes is None:
        print("ordinal codes and transition entropy vs Numba: numba not installed")
    else:
        for dim in (3, 5):
            assert np.array_equal(qk.ordinal_pattern_sequence(x, dim, 1), nb_codes(x, dim, 1))
            compare(f"ordinal_pattern_sequence L=1e6 dim={dim} vs Numba",
                    lambda: qk.ordinal_pattern_sequence(x, dim, 1), lambda: nb_codes(x, dim, 1), target=1)
        for dim in (3, 5):
            assert qk.transition_entropy(x, dim, 1) == nb_entropy(x, dim, 1)
            compare(f"transition_entropy L=1e6 dim={dim} vs Numba", lambda: qk.transition_entropy(x, dim, 1),
                    lambda: nb_entropy(x, dim, 1), target=1)

    header("phase distances and persistence entropy")
    p2000 = rng.uniform(0.0, TAU, 2000)
    compare("phase_distance_matrix N=2000", lambda: qk.phase_distance_matrix(p2000),
            lambda: numpy_distances(p2000), target=1.5)
    p1500 = rng.uniform(0.0, TAU, 1500)
    compare("compute_npe N=1500 vs distances + MST", lambda: qk.compute_npe(p1500), lambda: numpy_npe(p1500), target=1)


if __name__ == "__main__":
    main()
