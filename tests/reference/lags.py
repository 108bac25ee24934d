"""Propagation lags: 2*pi times the travel distance over the speed, antisymmetric."""
import math


def estimate(distances, n, speed):
    alpha = [0.0] * (n * n)
    for i in range(n):
        for j in range(i + 1, n):
            a = (distances[i * n + j] * (2.0 * math.pi)) / speed
            alpha[i * n + j] = a
            alpha[j * n + i] = -a
    return alpha
