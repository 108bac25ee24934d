"""Phases from analytic signals, event streams and state sequences."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import informational as ref_event
from reference import physical as ref_phys
from reference import symbolic as ref_sym

PI, TWO_PI, NAN, INF = math.pi, 6.283185307179586, math.nan, math.inf
LAYOUT = "The given array is not contiguous or is misaligned."
ZEROS = (0.0, 0.0, 0.0, 0.0)


def same(a, b):
    """Equal, any NaN matching any NaN. The sign of a zero median is open: the
    plain less-than does not order -0.0 and 0.0."""
    return all((math.isnan(x) and math.isnan(y)) or x == y for x, y in zip(a, b, strict=True))


def circle(u, radius=1.0):
    u = np.asarray(u, dtype=float)
    return radius * np.cos(u), radius * np.sin(u)


@pytest.mark.parametrize("real, imag, fs, expected", [
    ([1, 0, -1, 0], [0, 1, 0, -1], 4.0, (3 * PI / 2, TWO_PI, 1.0, 1.0)),
    ([1, -1], [0, 0], 1.0, (PI, -PI, 1.0, 1.0)),  # a step of exactly pi counts as -pi
    ([0.0], [-2.0], 5.0, (3 * PI / 2, 0.0, 2.0, 1.0)),
    ([1e200], [0.0], 3.0, (0.0, 0.0, INF, NAN)),  # the modulus overflows; NaN passes the clamp
    (*circle([0, 1, 4, 7]), TWO_PI, (7 - TWO_PI, 5 * PI, 1.0, 1.0)),  # frequencies 1, 2, 3, 3: median 2.5
    ([], [], 1.0, ZEROS),
    ([1, 2, 3, 4, 5], [1, 2, 3, 4], 1.0, ZEROS),
])
def test_physical_examples(real, imag, fs, expected):
    got = qk.physical_extract(np.asarray(real, float), np.asarray(imag, float), fs)
    assert got == pytest.approx(expected, rel=1e-12, abs=1e-12, nan_ok=True)


def walk(rng, n, kind):
    if kind == "random":
        return rng.normal(size=n), rng.normal(size=n)
    if kind == "ties":  # eight exact points: instantaneous frequencies repeat exactly
        pts = rng.integers(0, 8, n)
        return np.array([1, 1, 0, -1, -1, -1, 0, 1.0])[pts], np.array([0, 1, 1, 1, 0, -1, -1, -1.0])[pts]
    return circle(np.arange(n) * (PI / 2))  # every frequency equal


@pytest.mark.parametrize("n", [2, 3, 101, 6001])
@pytest.mark.parametrize("kind", ["random", "ties", "quarter turns", "nan sample", "nan rate", "inf sample"])
def test_physical_matches_reference(n, kind):
    # With NaN among the frequencies the median selection must still end
    # inside its buffer, ranking NaN above every number.
    rng = np.random.default_rng(n)
    x, y = walk(rng, n, kind)
    fs = NAN if kind == "nan rate" else float(rng.choice([0.0, -3.0, INF, rng.uniform(0.5, 100)]))
    if kind == "nan sample":
        x[rng.integers(n)] = NAN
    if kind == "inf sample":
        y[n // 2] = INF
    assert same(qk.physical_extract(x, y, fs), ref_phys.extract_from_analytic(x.tolist(), y.tolist(), fs))


def test_physical_layout_of_imag_checked_even_when_real_is_empty():
    with pytest.raises(ValueError, match=LAYOUT):
        qk.physical_extract(np.zeros(0), np.zeros(8)[::2], 1.0)


@pytest.mark.parametrize("stamps, expected", [
    ([0, 1, 2, 3], (0.0, TWO_PI, 1.0)),
    ([0, 0.5, 1.5, 2.0], (0.0, 4 * PI, 1 / (math.sqrt(1 / 18) / (2 / 3) + 1))),
    *[(bad, (0.0, 0.0, 0.0)) for bad in
      ([], [5.0], [1, 1], [2, 1], [0, NAN, 2], [-1e308, 0, 1e308])],
])
def test_event_examples(stamps, expected):
    assert qk.event_phase(np.asarray(stamps, float)) == pytest.approx(expected, abs=1e-12)


@pytest.mark.parametrize("n", [2, 3, 50, 8000])
@pytest.mark.parametrize("kind", ["poisson", "regular", "jittered", "strided"])
def test_event_matches_reference(n, kind):
    rng = np.random.default_rng(n)
    dt = {"poisson": rng.exponential(0.1, n), "regular": np.full(n, 0.5),
          "jittered": 1 + rng.integers(0, 3, n) * 0.25, "strided": rng.uniform(0.1, 0.2, n)}[kind]
    if kind == "strided":  # long gaps wherever an evenly strided sample of the rates could look
        for stride in (7, 8):
            dt[::stride] = rng.uniform(5, 6, len(dt[::stride]))
    t = np.cumsum(dt) - 3.0
    assert same(qk.event_phase(t), ref_event.event_phase(t.tolist()))


@pytest.mark.parametrize("fn, i, n, expected", [
    (qk.ring_phase, 3, 4, 3 * PI / 2), (qk.ring_phase, 7, 0, 0.0), (qk.ring_phase, 11, 11, 6.283185307179585),
    (qk.graph_walk_phase, 1, 4, PI / 2), (qk.graph_walk_phase, 9, 0, 0.0),
])
def test_scalar_phases(fn, i, n, expected):
    assert fn(i, n) == expected


I64 = [0, 1, -1, 5, -5, 2**63 - 1, -2**63, 2**62 + 3]


@pytest.mark.parametrize("fn, s, n, expected", [
    (qk.ring_phases_rust, [0, 1, 2, 3, 4, -5], 4, [0, PI / 2, PI, 3 * PI / 2, 0, 3 * PI / 2]),
    (qk.graph_walk_phases_rust, [0, 2, 1, 1], 99, [0.0, 4 * PI / 3, 0.0, 0.0]),
    (qk.graph_walk_phases_rust, [], 4, []),
])
def test_sequence_phases(fn, s, n, expected):
    assert fn(np.array(s, dtype=np.int64), n).tolist() == pytest.approx(expected, abs=1e-15)


@pytest.mark.parametrize("n", [0, 1, 3, 2**63 - 1, 2**63 + 5, 2**64 - 1])
def test_sequences_match_reference_for_every_count(n):
    # Counts above 2^63 - 1 take the exact Euclidean remainder too.
    rng = np.random.default_rng(n % 1000)
    s = I64 + rng.choice(I64, 20).tolist()
    arr = np.array(s, dtype=np.int64)
    assert same(qk.ring_phases_rust(arr, n), ref_sym.ring_phases(s, n))
    assert same(qk.graph_walk_phases_rust(arr, n), ref_sym.graph_walk_phases(s, n))
    assert same(qk.graph_walk_phases_rust(arr[:1], n), ref_sym.ring_phases(s[:1], n))
