"""The order parameter from its definition, with the math module only."""
import math

from reference.integrators import wrap


def order_parameter(values):
    values = list(values)
    if not values:
        return 0.0, 0.0
    c = s = 0.0
    for x in values:
        c += math.cos(x)
        s += math.sin(x)
    m = float(len(values))
    c /= m
    s /= m
    mag = math.sqrt(c * c + s * s)
    r = 1.0 if mag > 1.0 else mag
    return r, wrap(math.atan2(s, c))


def plv(a, b):
    return order_parameter([x - y for x, y in zip(a, b)])[0]


def layer_coherence(phases, indices):
    return order_parameter([phases[i] for i in indices if i < len(phases)])[0]
