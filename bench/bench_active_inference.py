"""Active-inference agent against the same drive command in NumPy."""
import math

import numpy as np

import qel_kernel as qk
from harness import compare, header


def np_control(phases, target):
    if phases.size == 0 or not np.isfinite(phases).all():
        return 0.0, 0.0
    c = np.cos(phases).mean()
    s = np.sin(phases).mean()
    r = min(1.0, math.sqrt(c * c + s * s))
    psi = math.atan2(s, c) % (2 * math.pi)
    e = target - r
    gain = min(5.0, max(0.0, 10.0 * e))
    return gain, ((psi + math.pi) % (2 * math.pi) if e > 0 else psi)


def main():
    rng = np.random.default_rng(0)
    agent = qk.PyActiveInferenceAgent(target_r=0.9)
    header("active-inference agent")
    for n in (16, 10**5):
        x = rng.uniform(0, 2 * np.pi, n)
        compare(f"control(phases), {n} phases", lambda: agent.control(x), lambda: np_control(x, 0.9), 1)
    x = rng.uniform(0, 2 * np.pi, 2 * 10**5)[::2]
    compare("control(phases), 10^5 strided phases", lambda: agent.control(x), lambda: np_control(x, 0.9), 1)
    compare("control(r_obs, psi_obs)", lambda: agent.control(r_obs=0.3, psi_obs=1.0),
            lambda: (min(5.0, max(0.0, 10.0 * abs(0.3 - 0.9))), 1.0), 0.25)


if __name__ == "__main__":
    main()
