"""Coupling construction and spatial modulation against NumPy broadcasting.

Both sides take the same Python inputs and hand back the same Python values
(lists), so conversions are counted on both sides.
"""
import numpy as np

import qel_kernel as qk
from harness import compare, header


def numpy_spatial(knm, positions, n, dim, k, p, length, eps):
    K = np.asarray(knm, dtype=np.float64).reshape(n, n)
    P = np.asarray(positions, dtype=np.float64).reshape(n, dim)
    d = np.sqrt(((P[:, None, :] - P[None, :, :]) ** 2).sum(axis=-1))
    out = np.exp(-d / length) * k * K
    np.fill_diagonal(out, 0.0)
    return out.ravel().tolist()


def numpy_build(n, base, decay):
    i = np.arange(n, dtype=np.float64)
    k = np.exp(np.abs(i[:, None] - i[None, :]) * (-decay)) * base
    np.fill_diagonal(k, 0.0)
    return {"knm": k.ravel().tolist(), "alpha": np.zeros(n * n).tolist(), "n": n}


def main():
    rng = np.random.default_rng(0)
    n, dim = 1000, 3
    k = rng.uniform(0, 1, (n, n))
    np.fill_diagonal(k, 0.0)
    pos = rng.normal(size=n * dim)
    k_arr, k_list, pos_list = k.ravel(), k.ravel().tolist(), pos.tolist()

    header("coupling construction and spatial modulation")
    ours = qk.spatial_modulate_rust(k_list, pos_list, n, dim, 1.5, 1, 1.0, 0.7, 0.1)
    ref = numpy_spatial(k_list, pos_list, n, dim, 1.5, 1.0, 0.7, 0.1)
    assert np.allclose(ours, ref, rtol=1e-13, atol=0)
    compare("spatial_modulate_rust n=1000 dim=3 code 1 (lists)",
            lambda: qk.spatial_modulate_rust(k_list, pos_list, n, dim, 1.5, 1, 1.0, 0.7, 0.1),
            lambda: numpy_spatial(k_list, pos_list, n, dim, 1.5, 1.0, 0.7, 0.1), target=1)
    compare("spatial_modulate_rust n=1000 dim=3 code 1 (arrays)",
            lambda: qk.spatial_modulate_rust(k_arr, pos, n, dim, 1.5, 1, 1.0, 0.7, 0.1),
            lambda: numpy_spatial(k_arr, pos, n, dim, 1.5, 1.0, 0.7, 0.1), target=1)

    b = qk.PyCouplingBuilder()
    ours = b.build(n, 2.0, 0.01)
    ref = numpy_build(n, 2.0, 0.01)
    assert np.allclose(ours["knm"], ref["knm"], rtol=1e-13, atol=0) and ours["alpha"] == ref["alpha"]
    compare("PyCouplingBuilder.build n=1000", lambda: b.build(n, 2.0, 0.01), lambda: numpy_build(n, 2.0, 0.01),
            target=1)


if __name__ == "__main__":
    main()
