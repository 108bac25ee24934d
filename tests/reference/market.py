"""Per-step order parameters and sliding phase-locking values, as plain loops."""
import math


def market_order_parameter(phases, t, n):
    out = []
    for s in range(t if n else 0):
        c = si = 0.0
        for i in range(n):
            c += math.cos(phases[s * n + i])
            si += math.sin(phases[s * n + i])
        c *= 1.0 / n
        si *= 1.0 / n
        out.append(math.sqrt(c * c + si * si))
    return out


def market_plv(phases, t, n, window):
    if n == 0 or window == 0 or window > t:
        return []
    cos = [math.cos(x) for x in phases[: t * n]]
    sin = [math.sin(x) for x in phases[: t * n]]
    out = []
    for w in range(t - window + 1):
        for i in range(n):
            for j in range(n):
                re = im = 0.0
                for s in range(w, w + window):
                    ci, si, cj, sj = cos[s * n + i], sin[s * n + i], cos[s * n + j], sin[s * n + j]
                    re += ci * cj + sj * si
                    im += ci * sj - si * cj
                re *= 1.0 / window
                im *= 1.0 / window
                out.append(math.sqrt(re * re + im * im))
    return out
