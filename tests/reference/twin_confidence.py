"""Phase histograms and the two divergences of a model run from observations,
with SciPy's Jensen-Shannon distance and Wasserstein distance."""
import numpy as np
from scipy.spatial.distance import jensenshannon
from scipy.stats import wasserstein_distance

from reference.integrators import TWO_PI


def histogram(phases, n_bins):
    x = np.asarray(phases, dtype=float)
    with np.errstate(invalid="ignore"):
        k = np.floor((x - np.floor(x / TWO_PI) * TWO_PI) / (TWO_PI / n_bins))
    k = np.clip(np.nan_to_num(k, nan=0.0), 0, n_bins - 1).astype(np.int64)
    return np.bincount(k, minlength=n_bins) / len(x)


def divergence(model_phases, observed_phases, model_order, observed_order, n_bins):
    p, q = histogram(model_phases, n_bins), histogram(observed_phases, n_bins)
    return jensenshannon(p, q) ** 2, wasserstein_distance(model_order, observed_order)
