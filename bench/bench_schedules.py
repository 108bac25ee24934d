"""Schedule runners of PyUPDEStepper against Python and NumPy loops doing the same steps."""
import numpy as np

import qel_kernel as qk
from harness import TWO_PI, compare, header



def numpy_euler(theta, omegas, knm, zeta, psi, dt):
    # alpha = 0: sum_j K_ij sin(theta_j - theta_i) = cos_i (K sin)_i - sin_i (K cos)_i
    s, c = np.sin(theta), np.cos(theta)
    d = omegas + c * (knm @ s) - s * (knm @ c) + zeta * np.sin(psi - theta)
    return np.mod(theta + dt * d, TWO_PI)


def numpy_euler_pairwise(theta, omegas, knm, alpha, zeta, psi, dt):
    # The equation as written: one sine per pair.
    d = omegas + (knm * np.sin(theta[None, :] - theta[:, None] - alpha)).sum(axis=1) + zeta * np.sin(psi - theta)
    return np.mod(theta + dt * d, TWO_PI)


def numpy_omega_schedule(phases, sched, knm, zeta, psi, n, n_steps, dt, alpha=None):
    K = knm.reshape(n, n)
    A = None if alpha is None else alpha.reshape(n, n)
    theta = phases.copy()
    for s in range(n_steps):
        row = sched[s * n:(s + 1) * n]
        if A is None:
            theta = numpy_euler(theta, row, K, zeta, psi, dt)
        else:
            theta = numpy_euler_pairwise(theta, row, K, A, zeta, psi, dt)
    return theta


def python_step_loop(stepper, phases, sched, knm, zeta, psi, alpha, n, n_steps):
    p = phases
    for s in range(n_steps):
        p = stepper.step(p, sched[s * n:(s + 1) * n], knm, zeta, psi, alpha)
    return p


def numpy_moving_frame(phases, x, sched, knm, vel, k, length, strength, d_eps, zeta, psi, n, n_steps, dt):
    K = knm.reshape(n, n)
    off = ~np.eye(n, dtype=bool)
    theta, x = phases.copy(), x.copy()
    for s in range(n_steps):
        v = vel[s * n:(s + 1) * n]
        w = np.exp(-np.abs(x[:, None] - x[None, :]) / length) * k
        keff = K * w
        np.fill_diagonal(keff, 0.0)
        W = np.where(off & (keff != 0.0), np.abs(keff), 0.0)
        wsum = W.sum(axis=1)
        num = ((v[:, None] - v[None, :]) * W / (np.abs(v) + d_eps)[:, None]).sum(axis=1)
        D = np.where(wsum > 0, num * strength / np.where(wsum > 0, wsum, 1.0), 0.0)
        theta = numpy_euler(theta, sched[s * n:(s + 1) * n] + D, keff, zeta, psi, dt)
        x = x + v * dt
    return np.concatenate([theta, x])


def main():
    rng = np.random.default_rng(1)
    header("schedules")

    n, n_steps, dt = 16, 10_000, 0.01
    phases = rng.uniform(0, TWO_PI, n)
    knm = rng.uniform(0, 0.5, n * n)
    alpha = np.zeros(n * n)
    sched = rng.normal(1.0, 0.1, n * n_steps)
    st = qk.PyUPDEStepper(n, dt=dt)
    ours = st.run_omega_schedule(phases, sched, knm, 0.2, 0.5, alpha, n_steps)
    ref = numpy_omega_schedule(phases, sched, knm, 0.2, 0.5, n, n_steps, dt)
    assert np.allclose(np.angle(np.exp(1j * (ours - ref))), 0, atol=1e-8)
    compare("run_omega_schedule n=16 10k steps vs step loop",
            lambda: st.run_omega_schedule(phases, sched, knm, 0.2, 0.5, alpha, n_steps),
            lambda: python_step_loop(st, phases, sched, knm, 0.2, 0.5, alpha, n, n_steps), target=3)
    compare("run_omega_schedule n=16 10k steps vs NumPy loop (K@sin)",
            lambda: st.run_omega_schedule(phases, sched, knm, 0.2, 0.5, alpha, n_steps),
            lambda: numpy_omega_schedule(phases, sched, knm, 0.2, 0.5, n, n_steps, dt), target=30)
    compare("run_omega_schedule n=16 10k steps vs NumPy loop (pairwise)",
            lambda: st.run_omega_schedule(phases, sched, knm, 0.2, 0.5, alpha, n_steps),
            lambda: numpy_omega_schedule(phases, sched, knm, 0.2, 0.5, n, n_steps, dt, alpha), target=30)

    n, n_steps = 256, 100
    phases = rng.uniform(0, TWO_PI, n)
    x = rng.uniform(0, 10, n)
    knm = rng.uniform(0, 0.05, n * n)
    alpha = np.zeros(n * n)
    sched = rng.normal(1.0, 0.1, n * n_steps)
    vel = rng.normal(0.0, 1.0, n * n_steps)
    st = qk.PyUPDEStepper(n, dt=dt)
    args = (0.1, 0.0, alpha, vel, 1.2, 1, 1.0, 2.0, 0.1, 0.5, 0.3, n_steps)
    ours = st.run_moving_frame_schedule(phases, x, sched, knm, *args)
    ref = numpy_moving_frame(phases, x, sched, knm, vel, 1.2, 2.0, 0.5, 0.3, 0.1, 0.0, n, n_steps, dt)
    assert np.allclose(np.angle(np.exp(1j * (ours[:n] - ref[:n]))), 0, atol=1e-8)
    assert np.allclose(ours[n:], ref[n:], rtol=1e-12)
    compare("run_moving_frame_schedule n=256 100 steps code 1",
            lambda: st.run_moving_frame_schedule(phases, x, sched, knm, *args),
            lambda: numpy_moving_frame(phases, x, sched, knm, vel, 1.2, 2.0, 0.5, 0.3, 0.1, 0.0, n, n_steps, dt),
            target=1)


if __name__ == "__main__":
    main()
