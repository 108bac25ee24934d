"""Spectral measures of a dense n = 400 coupling matrix against NumPy/SciPy
(one BLAS thread) and networkx.

Run with /work/venv-bench/bin/python for the networkx comparison; without
networkx that line is skipped.
"""
import os

# One BLAS thread: ours is sequential, so the reference must be too.
os.environ["OPENBLAS_NUM_THREADS"] = "1"
os.environ["OMP_NUM_THREADS"] = "1"
os.environ["MKL_NUM_THREADS"] = "1"

import numpy as np  # noqa: E402
import scipy.linalg  # noqa: E402

import qel_kernel as qk  # noqa: E402
from harness import compare, header, laplacian  # noqa: E402

try:
    from threadpoolctl import threadpool_limits
except ImportError:
    threadpool_limits = None


def main():
    n = 400
    knm = np.random.default_rng(0).uniform(0.0, 1.0, n * n)
    header(f"spectral measures, dense n = {n}, one BLAS thread")
    compare("fiedler_vector_rust vs eigh(driver='ev')", lambda: qk.fiedler_vector_rust(knm, n),
            lambda: scipy.linalg.eigh(laplacian(knm, n), driver="ev")[1][:, 1], target=1 / 1.5)
    compare("fiedler_vector_rust vs numpy.linalg.eigh", lambda: qk.fiedler_vector_rust(knm, n),
            lambda: np.linalg.eigh(laplacian(knm, n))[1][:, 1])
    compare("fiedler_value_rust vs numpy.linalg.eigvalsh", lambda: qk.fiedler_value_rust(knm, n),
            lambda: np.linalg.eigvalsh(laplacian(knm, n))[1], target=1 / 3)
    try:
        import networkx as nx
    except ImportError:
        print("networkx not installed: algebraic_connectivity comparison skipped")
        return
    w = (knm.reshape(n, n) + knm.reshape(n, n).T) * 0.5
    np.fill_diagonal(w, 0.0)
    graph = nx.from_numpy_array(w)
    compare("fiedler_value_rust vs networkx tracemin_lu", lambda: qk.fiedler_value_rust(knm, n),
            lambda: nx.algebraic_connectivity(graph, method="tracemin_lu"), target=5)


if __name__ == "__main__":
    if threadpool_limits is not None:
        with threadpool_limits(limits=1):
            main()
    else:
        main()
