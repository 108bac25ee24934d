"""Euler run of the Kuramoto network whose coupling reads the phases of delay_steps steps ago (the current ones
until that many steps are done), from its definition, with the math module only."""
import math

from reference.integrators import wrap


def delayed_run(phases, omegas, knm, alpha, zeta, psi, dt, delay, n_steps, blocks8=False):
    """Phases after n_steps steps. With blocks8 the zero-lag row sums add whole blocks of eight terms, each
    summed on its own, then the remaining terms one at a time."""
    theta = [float(x) for x in phases]
    n = len(theta)
    zero_lag = all(a == 0.0 for a in alpha)
    zs, zc = (math.sin(psi) * zeta, math.cos(psi) * zeta) if zeta != 0.0 else (0.0, 0.0)
    past = []
    for k in range(n_steps):
        s = [math.sin(x) for x in theta]
        c = [math.cos(x) for x in theta]
        past.append((s, c))
        hs, hc = past[k - delay] if delay >= 1 and k >= delay else (s, c)
        new = []
        for i in range(n):
            if zero_lag:
                terms = [(hs[j] * c[i] - hc[j] * s[i]) * knm[i * n + j] for j in range(n)]
            else:
                terms = [math.sin((math.atan2(hs[j], hc[j]) - theta[i]) - alpha[i * n + j]) * knm[i * n + j]
                         for j in range(n)]
            acc = 0.0
            body = n - n % 8 if blocks8 and zero_lag else 0
            for b in range(0, body, 8):
                block = terms[b]
                for t in terms[b + 1:b + 8]:
                    block += t
                acc += block
            for t in terms[body:]:
                acc += t
            base = acc + omegas[i]
            d = base + (c[i] * zs - s[i] * zc) if zeta != 0.0 else base + 0.0
            new.append(wrap(d * dt + theta[i]))
        theta = new
    return theta
