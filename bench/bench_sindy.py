"""Phase SINDy against NumPy's thresholded least squares with np.linalg.lstsq."""
import os
import sys

import numpy as np

import qel_kernel as qk
from harness import compare, header

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from reference import sindy as ref  # noqa: E402


def main():
    header("phase SINDy")
    n, t = 16, 4000
    rng = np.random.default_rng(0)
    k = rng.uniform(0.2, 0.6, (n, n)) * (rng.uniform(size=(n, n)) < 0.3)
    phases = ref.kuramoto(rng.uniform(0.5, 8.0, n), k, rng.uniform(0, 6, n), 0.01, t, sub=2)
    flat = phases.ravel()
    np.testing.assert_allclose(qk.sindy_fit_rust(flat, n, t, 0.01, 0.05, 10).reshape(n, n),
                               ref.sindy_fit(phases, 0.01, 0.05, 10), atol=1e-6)
    compare(f"sindy_fit_rust n={n} T={t} max_iter=10", lambda: qk.sindy_fit_rust(flat, n, t, 0.01, 0.05, 10),
            lambda: ref.sindy_fit(phases, 0.01, 0.05, 10), 4)


if __name__ == "__main__":
    main()
