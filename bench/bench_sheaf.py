"""Sheaf UPDE: one Euler step, n = 256 oscillators of d = 4 angles, dense restriction maps."""
import numpy as np

import qel_kernel as qk
from harness import TWO_PI, compare, header, np_wrap



def main():
    n, d, dt, zeta = 256, 4, 0.01, 0.5
    rng = np.random.default_rng(0)
    phases = rng.uniform(0.0, TWO_PI, n * d)
    omegas = rng.normal(0.0, 1.0, n * d)
    maps = rng.normal(0.0, 0.1, (n * d) ** 2)
    psi = rng.uniform(0.0, TWO_PI, d)
    blocks = maps.reshape(n, n, d, d)

    def einsum_euler():
        th = phases.reshape(n, d)
        s, c = np.sin(th), np.cos(th)
        # sum_jb R_ij[a][b] sin(x_jb - x_ia) = cos x_ia (R s)_ia - sin x_ia (R c)_ia
        coupling = c * np.einsum("ijab,jb->ia", blocks, s) - s * np.einsum("ijab,jb->ia", blocks, c)
        deriv = omegas.reshape(n, d) + coupling + zeta * np.sin(psi[None, :] - th)
        return np_wrap(th + dt * deriv).ravel()

    header(f"sheaf UPDE, n={n}, d={d}, one Euler step")
    stepper = qk.PySheafUPDEStepper(n, d, dt=dt)
    ours = lambda: stepper.step(phases, omegas, maps, zeta, psi)  # noqa: E731
    assert np.allclose(ours(), einsum_euler(), atol=1e-12)
    compare("Euler vs np.einsum", ours, einsum_euler, target=3.0)


if __name__ == "__main__":
    main()
