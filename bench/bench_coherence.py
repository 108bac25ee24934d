"""Coherence monitor against NumPy doing the same selection and triangle scan."""
import numpy as np

import qel_kernel as qk
from harness import compare, header


def np_mean_r(rs, idx):
    rs = np.asarray(rs)
    idx = np.asarray(idx)
    idx = idx[idx < rs.size]
    return float(rs[idx].mean()) if idx.size else 0.0


def np_phase_lock(n, align, threshold):
    a = np.asarray(align).reshape(n, n)
    i, j = np.nonzero(np.triu(a >= threshold, 1))
    return list(zip(i.tolist(), j.tolist()))


def main():
    rng = np.random.default_rng(0)
    header("coherence monitor")
    for n in (16, 1000):
        rs = rng.uniform(0, 1, n).tolist()
        good = rng.integers(0, n + 10, n // 2).tolist()
        m = qk.PyCoherenceMonitor(good, [])
        compare(f"compute_r_good, {n} layers", lambda: m.compute_r_good(rs), lambda: np_mean_r(rs, good), 1)
    for n in (8, 300):
        rs = rng.uniform(0, 1, n).tolist()
        align = rng.uniform(0, 1, n * n).tolist()
        m = qk.PyCoherenceMonitor([], [])
        compare(f"detect_phase_lock, {n} layers", lambda: m.detect_phase_lock(rs, [], align, 0.9),
                lambda: np_phase_lock(n, align, 0.9), 1)


if __name__ == "__main__":
    main()
