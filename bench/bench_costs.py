"""Attention-style modulation, the self-organising cost and the ethical cost
against NumPy transcriptions of the same formulas (one BLAS thread: ours is
sequential)."""
import os
import sys

os.environ["OPENBLAS_NUM_THREADS"] = "1"
os.environ["OMP_NUM_THREADS"] = "1"
os.environ["MKL_NUM_THREADS"] = "1"

import numpy as np  # noqa: E402

import qel_kernel as qk  # noqa: E402
from harness import compare, header  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
from reference import attnres as attn_ref  # noqa: E402
from reference import spectral  # noqa: E402

try:
    from threadpoolctl import threadpool_limits
except ImportError:
    threadpool_limits = None


def attention(n, n_heads, d, target):
    rng = np.random.default_rng(0)
    knm = rng.uniform(0.1, 1.0, n * n)
    theta = rng.uniform(0.0, 2 * np.pi, n)
    width = n_heads * d
    ws = [rng.normal(size=width * width) for _ in range(4)]
    args = (knm, theta, *ws, n, n_heads, -1, 1.0, 0.5)
    compare(f"attnres_modulate_rust n={n} heads={n_heads} d={d}", lambda: qk.attnres_modulate_rust(*args),
            lambda: attn_ref.modulate_numpy(*args), target=target)


def ssgf_numpy(w, phases, n):
    r = min(1.0, abs(np.exp(1j * phases).mean()))
    lambda2 = np.linalg.eigvalsh(spectral.laplacian(w, n))[1]
    k = w.reshape(n, n)
    return 1.0 - r, -lambda2, np.abs(k).mean(), np.linalg.norm(k - k.T) / n


def jacobi_numpy(knm, n):
    """The ethical cost's Jacobi iteration, vectorised per step."""
    k = np.abs(knm[: n * n].reshape(n, n))
    a = -k
    a[np.diag_indices(n)] = k.sum(axis=1)
    upper = np.triu_indices(n, 1)
    for _ in range(100 * n * n):
        mags = np.abs(a[upper])
        at = int(np.argmax(mags))
        if mags[at] < 1e-12:
            break
        p, q = upper[0][at], upper[1][at]
        apq = a[p, q]
        theta = (a[q, q] - a[p, p]) / (2.0 * apq)
        root = np.sqrt(theta * theta + 1.0)
        t = 1.0 / (theta + root) if theta >= 0.0 else -1.0 / (root - theta)
        a[p, p] -= t * apq
        a[q, q] += t * apq
        c = 1.0 / np.sqrt(t * t + 1.0)
        s = t * c
        col_p, col_q = a[:, p].copy(), a[:, q].copy()
        new_p, new_q = c * col_p - s * col_q, s * col_p + c * col_q
        for v, j in ((new_p, p), (new_q, q)):
            v[p] = a[p, p] if j == p else 0.0
            v[q] = a[q, q] if j == q else 0.0
            a[:, j] = v
            a[j, :] = v
    return max(np.sort(np.diag(a))[1], 0.0)


def main():
    header("attention-style coupling modulation, dense coupling")
    attention(256, 4, 8, target=1.0)
    attention(32, 4, 8, target=3.0)
    n = 400
    rng = np.random.default_rng(1)
    w, phases = rng.uniform(0.0, 1.0, n * n), rng.uniform(0.0, 2 * np.pi, n)
    header(f"self-organising cost, n = {n}")
    compare("compute_ssgf_costs_rust vs eigvalsh", lambda: qk.compute_ssgf_costs_rust(w, phases, n),
            lambda: ssgf_numpy(w, phases, n), target=1 / 3)
    header("ethical cost: O(n^2) per Jacobi step, no target")
    for n in (16, 32):
        knm = np.random.default_rng(n).uniform(0.0, 1.0, n * n)
        args = (np.zeros(n), knm, n, 1.0, 1.0, 1.0, 1.0, 1.0, 0.5, 0.5, 2.0)
        compare(f"compute_ethical_cost_rust n={n} vs vectorised Jacobi", lambda: qk.compute_ethical_cost_rust(*args),
                lambda: jacobi_numpy(knm, n), repeat=3)


if __name__ == "__main__":
    if threadpool_limits is not None:
        with threadpool_limits(limits=1):
            main()
    else:
        main()
