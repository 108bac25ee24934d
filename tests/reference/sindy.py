"""Phase SINDy in NumPy: folded forward differences, a sine library per
oscillator and thresholded refits with np.linalg.lstsq; and the Kuramoto
model whose histories it is tested on."""
import numpy as np

from reference.integrators import rk4


def velocities(phases, dt):
    d = np.diff(phases, axis=0)
    for _ in range(2):
        d = np.where(d > np.pi, d - 2 * np.pi, np.where(d < -np.pi, d + 2 * np.pi, d))
    return d / dt


def sindy_fit(phases, dt, threshold, max_iter):
    """phases: n_time x n_osc. Returns the n_osc x n_osc coefficient matrix."""
    v = velocities(phases, dt)
    n = phases.shape[1]
    out = np.zeros((n, n))
    for i in range(n):
        lib = np.sin(phases[:-1] - phases[:-1, i:i + 1])
        lib[:, i] = 1.0
        xi = np.linalg.lstsq(lib, v[:, i], rcond=None)[0]
        for _ in range(max_iter):
            xi[np.abs(xi) < threshold] = 0.0
            act = np.abs(xi) >= threshold
            if not act.any():
                break
            xi = np.zeros(n)
            xi[act] = np.linalg.lstsq(lib[:, act], v[:, i], rcond=None)[0]
        out[i] = xi
    return out


def kuramoto(omega, k, theta0, dt, steps, sub=10):
    """RK4 history (steps x n) of d theta_i = omega_i + sum_j K_ij sin(theta_j - theta_i), sub substeps per sample."""
    def f(th):
        return omega + (k * np.sin(th[None, :] - th[:, None])).sum(1)

    th, out = np.array(theta0, dtype=float), []
    for _ in range(steps):
        out.append(th.copy())
        for _ in range(sub):
            th = rk4(f, th, dt / sub)
    return np.mod(np.array(out), 2 * np.pi)
