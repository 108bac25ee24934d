"""Floats in messages: the shortest digits that read back, in fixed notation at every magnitude."""
import math
import random
import struct
from decimal import Decimal

import pytest

import qel_kernel as qk


def shown(x):
    # dt = -|x| is refused with the number in the message.
    with pytest.raises(ValueError) as e:
        qk.PyUPDEStepper(3, dt=x)
    return str(e.value).removeprefix("invalid config: dt must be positive finite, got ")


def python_text(x):
    text = format(Decimal(repr(x)), "f")
    return text.removesuffix(".0")  # integral values carry no fractional part


def random_magnitudes(count, seed=7):
    rng = random.Random(seed)
    out = []
    while len(out) < count:
        x = struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))[0]
        if math.isfinite(x):
            out.append(-abs(x))
    return out


@pytest.mark.parametrize("x", [
    -1.5073810624215022e75, -1.7976931348623157e308, -1e22, -1e23, -2.0**53, -(2.0**53 + 2), -1e16, -123.0,
    -0.1, -0.01, -1e-7, -5e-324, -2.2250738585072014e-308, -1234.5678, -(1e15 + 0.3), -0.0, 0.0,
])
def test_chosen_values_match_python(x):
    assert shown(x) == python_text(x)


def test_random_bit_patterns_match_python():
    for x in random_magnitudes(3000):
        assert shown(x) == python_text(x)
        assert float(shown(x)) == x  # and reads back

