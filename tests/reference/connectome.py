"""The synthetic two-hemisphere connectome and the distance-decay prior, transcribed as plain loops."""
import math

from reference import mmix


def load_hcp_connectome(n, seed):
    k = [[0.0] * n for _ in range(n)]
    if n < 2:
        return [v for row in k for v in row]
    h = n // 2
    state = seed

    def draw():
        nonlocal state
        state = mmix(state)
        return (state >> 33) * 2.0**-31

    for base, m in ((0, h), (h, n - h)):
        for i in range(m):
            for j in range(m):
                if j != i:
                    u = draw()
                    k[base + i][base + j] = max(0.0, 0.5 * math.exp(-0.3 * abs(i - j)) + (u - 0.5) * 0.04)
    c = min(h, 3)
    for i in range(h):
        for d in range(-c, c + 1):
            j = i + d
            if 0 <= j < h:
                k[j][h + i] = k[h + i][j] = 0.15 * math.exp(-0.5 * abs(d))
    hubs = []
    for f in (0.15, 0.45, 0.65, 0.85):
        x = int(f * h)
        if x < n:
            hubs.append(x)
        if x + h < n:
            hubs.append(x + h)
    for a in hubs:
        for b in hubs:
            if a != b:
                k[a][b] += 0.3
    for i in range(n):
        for j in range(i + 1, n):
            k[i][j] = k[j][i] = max(0.0, (k[i][j] + k[j][i]) * 0.5)
        k[i][i] = 0.0
    return [v for row in k for v in row]


def prior_distance_decay(n, k_base, decay_alpha):
    return [0.0 if i == j else math.exp(abs(i - j) * -decay_alpha) * k_base for i in range(n) for j in range(n)]
