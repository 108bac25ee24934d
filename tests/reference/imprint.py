"""Imprint trace: exposure accumulates, decays exponentially, stays in [0, saturation]."""
import math


class Imprint:
    def __init__(self, n, decay_rate, saturation):
        self.m = [0.0] * n
        self.decay_rate = decay_rate
        self.saturation = saturation

    def update(self, exposure, dt):
        if len(exposure) != len(self.m) or not math.isfinite(dt) or dt < 0.0 or not all(map(math.isfinite, exposure)):
            return
        f = math.exp(dt * (-self.decay_rate))
        self.m = [min(max(e * dt + m * f, 0.0), self.saturation) for e, m in zip(exposure, self.m)]

    def modulate_coupling(self, knm):
        n = len(self.m)
        return [knm[i * n + j] * (self.m[i] + 1.0) for i in range(n) for j in range(n)]

    def modulate_lag(self, alpha):
        n = len(self.m)
        return [alpha[i * n + j] + (self.m[i] - self.m[j]) for i in range(n) for j in range(n)]
