"""Stuart-Landau oscillators in amplitude-phase form, y = [theta; r], from the equations."""
import numpy as np

from reference.integrators import dopri_single_step, euler, rk4, wrap
from reference.stepper_kit import caches, drive, fast_sine, row_sums, sin_cos_of


def derivative(y, omegas, mu, knm, knm_r, alpha, zeta, psi, epsilon, pool=False):
    """f(y); `pool` picks the row sums of the pool (n >= 256): interleaved partials on the zero-lag path."""
    n = len(omegas)
    theta, r = y[:n], y[n:]
    s, c = caches(theta)
    K, Kr = knm.reshape(n, n), knm_r.reshape(n, n)
    weight = np.where(r > 0.0, r, 0.0)[None, :] * Kr
    if all(a == 0.0 for a in alpha):
        p_terms = fast_sine(s, c) * K
        a_terms = (s[None, :] * s[:, None] + c[:, None] * c[None, :]) * weight
        order = "interleaved8" if pool else "plain"
    else:
        sn, cs = sin_cos_of((theta[None, :] - theta[:, None]) - alpha.reshape(n, n))
        p_terms, a_terms = K * sn, cs * weight
        order = "plain"
    dtheta = omegas + row_sums(p_terms, order)
    d = drive(s, c, zeta, psi)
    if d is not None:
        dtheta = dtheta + d
    dr = (mu - r * r) * r + epsilon * row_sums(a_terms, order)
    return np.concatenate([dtheta, dr])


def post_step(y):
    n = len(y) // 2
    out = y.copy()
    out[:n] = wrap(y[:n])
    out[n:] = np.where(y[n:] < 0.0, 0.0, y[n:])
    return out


def step(y, inputs, method="euler", dt=0.01, n_substeps=1, last_dt=None, atol=1e-6, rtol=1e-3, pool=False):
    """One step; returns (new y, new last_dt, attempts of the adaptive step or None)."""
    f = lambda x: derivative(x, *inputs, pool=pool)  # noqa: E731
    y = np.asarray(y, dtype=float)
    last_dt = dt if last_dt is None else last_dt
    log = None
    if method == "rk45":
        y, last_dt, log = dopri_single_step(f, y, last_dt, dt, atol, rtol, slope_first=True)
    else:
        h = dt / n_substeps
        for _ in range(n_substeps):
            y = euler(f, y, h) if method == "euler" else rk4(f, y, h)
    return post_step(y), last_dt, log
