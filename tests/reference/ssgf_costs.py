"""The self-organising cost from its definition, with NumPy: clamped order
parameter, Laplacian eigenvalues from eigvalsh, mean magnitude and the
Frobenius norm of the asymmetry."""
import numpy as np

from reference import spectral


def costs(w, phases, n, w1=1.0, w2=0.5, w3=0.1, w4=0.1):
    phases = np.asarray(phases, dtype=float)
    r = min(1.0, abs(np.exp(1j * phases).mean())) if len(phases) else 0.0
    lambda2 = np.linalg.eigvalsh(spectral.laplacian(w, n))[1] if n >= 2 else 0.0
    k = np.asarray(w, dtype=float).reshape(n, n)
    c3 = np.abs(k).mean() if n else 0.0
    c4 = np.linalg.norm(k - k.T) / n if n else 0.0
    return 1.0 - r, -lambda2, c3, c4, w1 * (1.0 - r) - w2 * lambda2 + w3 * c3 + w4 * c4
