"""Phase, frequency, amplitude and quality of a sampled analytic signal, with the math module only."""
import math

from reference.integrators import TWO_PI, wrap

PI = math.pi


def sorted_median(values):
    """NaN ranks above every number."""
    s = sorted(values, key=lambda v: (math.isnan(v), v))
    m = len(s) // 2
    return s[m] if len(s) % 2 else (s[m] + s[m - 1]) * 0.5


def extract_from_analytic(real, imag, fs):
    n = len(real)
    if n == 0 or len(imag) != n:
        return 0.0, 0.0, 0.0, 0.0
    phi = [math.atan2(y, x) for x, y in zip(real, imag)]
    mods = [math.sqrt(y * y + x * x) for x, y in zip(real, imag)]
    total = 0.0
    for a in mods:
        total += a
    amp = total / n
    if 1e-15 > amp:
        q = 0.0
    else:
        ss = 0.0
        for a in mods:
            ss += (a - amp) * (a - amp)
        q = 1.0 - math.sqrt(ss / n) / amp
        q = 0.0 if q < 0.0 else q
        q = 1.0 if q > 1.0 else q
    if n < 2:
        return wrap(phi[-1]), 0.0, amp, q
    u = [phi[0]]
    for k in range(1, n):
        r = math.fmod(phi[k] - u[-1] + PI, TWO_PI) - PI
        u.append(u[-1] + (r + TWO_PI if r < -PI else r))
    f = [(u[1] - u[0]) * fs / TWO_PI]
    f += [((u[k + 1] - u[k - 1]) * 0.5) * fs / TWO_PI for k in range(1, n - 1)]
    f.append((u[-1] - u[-2]) * fs / TWO_PI)
    return wrap(phi[-1]), sorted_median(f) * TWO_PI, amp, q
