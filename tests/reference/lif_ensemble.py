"""The layered integrate-and-fire ensemble, elementwise in NumPy (IEEE operations in the model's order)."""
import numpy as np

V_REST, V_RESET, V_THRESHOLD, LEAK, DT_MS, REFRACTORY_STEPS = 0.0, 0.0, 1.0, 1.0 / 20.0, 1.0, 0


class Ensemble:
    def __init__(self, n_layers, per_layer):
        self.n_layers, self.per_layer = n_layers, per_layer
        self.v = np.full(n_layers * per_layer, V_REST)
        self.refractory = np.zeros(self.v.size, dtype=np.int64)
        self.spikes = np.zeros(self.v.size, dtype=np.uint64)
        self.step_count = 0

    def step(self, currents, n_substeps):
        drive = np.repeat(np.asarray(currents, dtype=float) * 1.0, self.per_layer)
        for _ in range(n_substeps):
            held = self.refractory > 0
            integrated = (drive - (self.v - V_REST) * LEAK) + self.v
            fire = ~held & (integrated >= V_THRESHOLD)
            self.v = np.where(held, V_REST, np.where(fire, V_RESET, integrated))
            self.refractory = np.where(held, self.refractory - 1, np.where(fire, REFRACTORY_STEPS, self.refractory))
            self.spikes += fire.astype(np.uint64)
            self.step_count += 1
        window = (self.step_count * DT_MS) / 1000.0
        sums = self.spikes.reshape(self.n_layers, self.per_layer).sum(axis=1, dtype=np.uint64)
        return sums.astype(float) / (window * float(self.per_layer))
