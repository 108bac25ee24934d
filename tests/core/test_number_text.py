"""Floats in messages: the shortest digits that read back, in fixed notation at every magnitude."""
import random
import struct
from decimal import Decimal

import pytest

import qel_kernel as qk


def shown(x):
    # A negative dt is refused with the number in the message.
    with pytest.raises(ValueError) as e:
        qk.PyUPDEStepper(3, dt=x)
    return str(e.value).removeprefix("invalid config: dt must be positive finite, got ")


def python_text(x):
    return format(Decimal(repr(x)), "f").removesuffix(".0")  # integral values carry no fractional part


def random_doubles(count, rng=random.Random(7)):
    xs = (struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))[0] for _ in range(count))
    return [-abs(x) for x in xs if x == x and abs(x) != float("inf")]


@pytest.mark.parametrize("x", [
    -1.7976931348623157e308, -1e23, -(2.0**53 + 2), -0.1, -1e-7, -5e-324, -(1e15 + 0.3), -0.0,
])
def test_matches_python(x):
    assert shown(x) == python_text(x)


def test_random_doubles_match_python_and_read_back():
    for x in random_doubles(3000):
        assert shown(x) == python_text(x) and float(shown(x)) == x
