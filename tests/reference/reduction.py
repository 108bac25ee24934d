"""The Ott-Antonsen reduction in plain Python floats."""
import math


def oa_run(x, y, omega_0, delta, k, dt, n_steps):
    def f(x, y):
        s = (1.0 - (x * x + y * y)) * (k * 0.5)
        return s * x + (y * omega_0 - x * delta), s * y + (y * (-delta) - x * omega_0)

    for _ in range(n_steps):
        k1 = f(x, y)
        k2 = f(x + (0.5 * dt) * k1[0], y + (0.5 * dt) * k1[1])
        k3 = f(x + (0.5 * dt) * k2[0], y + (0.5 * dt) * k2[1])
        k4 = f(x + dt * k3[0], y + dt * k3[1])
        x, y = (x + ((k3[0] + k3[0] + (k2[0] + k2[0] + k1[0])) + k4[0]) * (dt / 6.0),
                y + ((k3[1] + k3[1] + (k2[1] + k2[1] + k1[1])) + k4[1]) * (dt / 6.0))
    return x, y, math.sqrt(y * y + x * x), math.atan2(y, x)


def closed_form_r(r0, delta, k, t):
    """|z(t)| of the reduced equation: R^2 = a R0^2 e^{2at} / (a + b R0^2 (e^{2at} - 1)), a = K/2 - delta, b = K/2."""
    a, b = k / 2 - delta, k / 2
    g = math.exp(2 * a * t)
    return math.sqrt(a * r0 * r0 * g / (a + b * r0 * r0 * (g - 1)))


def fit_lorentzian(values):
    n = len(values)
    if n == 0:
        return 0.0, 0.01
    x = sorted(values, key=lambda v: (math.isnan(v), 0.0 if math.isnan(v) else v))  # stable, NaN last
    median = x[n // 2] if n % 2 else (x[n // 2 - 1] + x[n // 2]) * 0.5
    q1, q3 = x[n // 4], x[3 * n // 4]
    return median, (q3 - q1) * 0.5 if q1 < q3 else 0.01
