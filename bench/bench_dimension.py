"""Correlation sums over all pairs against SciPy's pdist and a count per radius."""
import numpy as np
from scipy.spatial.distance import pdist

import qel_kernel as qk
from harness import compare, header


def np_corr(traj, t, d, eps):
    dist = pdist(traj.reshape(t, d))
    return [np.count_nonzero(dist < e) / dist.size for e in eps]


def main():
    header("correlation integral")
    t, d = 3000, 3
    traj = np.random.default_rng(0).normal(size=t * d)
    eps = np.geomspace(0.05, 5.0, 20)
    assert qk.correlation_integral_rust(traj, t, d, eps, t * t).tolist() == np_corr(traj, t, d, eps)
    compare(f"correlation_integral_rust all pairs T={t} d={d} 20 eps",
            lambda: qk.correlation_integral_rust(traj, t, d, eps, t * t), lambda: np_corr(traj, t, d, eps), 5)
    compare("  sampled, 50000 pairs (information)", lambda: qk.correlation_integral_rust(traj, t, d, eps),
            lambda: np_corr(traj, t, d, eps))


if __name__ == "__main__":
    main()
