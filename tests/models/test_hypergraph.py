"""Hypergraph stepper: the model against its reference bit for bit, the validated step's checks and their order,
the unvalidated run's limits, the edges conversion, the flat hyperedges of the run function, the order parameter."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import hypergraph as ref
from support import bits, internal_error, same_on_one_cpu

I64 = np.int64


def network(n, lags, seed=1):
    rng = np.random.default_rng(seed)
    phases = rng.uniform(-1.0, 7.0, n)
    omegas = rng.normal(0.0, 1.0, n)
    knm = rng.uniform(0.0, 2.0, n * n)
    alpha = rng.uniform(-0.5, 0.5, n * n) if lags else np.zeros(n * n)
    return phases, omegas, knm, alpha


def edges_for(n):
    """Triangles, a pair, a single member and a repeated entry."""
    return [([0, 1, 2], 0.7), ([n - 1, 0], -1.3), ([1], 2.0), ([2, 2, n - 2], 0.4)]


@pytest.mark.parametrize("n", [3, 9, 17, 70])
@pytest.mark.parametrize("lags", [False, True])
@pytest.mark.parametrize("zeta", [0.0, 0.8])
def test_step_and_run_match_the_reference(n, lags, zeta):
    phases, omegas, knm, alpha = network(n, lags)
    edges = edges_for(n)
    s = qk.PyHypergraphStepper(n, dt=0.05)
    got = s.step(phases, omegas, edges, knm, alpha, zeta, 0.3)
    want, sin_t, cos_t = ref.run(n, phases, omegas, edges, knm, alpha, zeta, 0.3, 0.05, 1)
    assert bits(got) == bits(want)
    assert s.order_parameter() == ref.order_parameter(sin_t, cos_t)
    got = s.run(phases, omegas, edges, knm, alpha, zeta, 0.3, 7)
    want, sin_t, cos_t = ref.run(n, phases, omegas, edges, knm, alpha, zeta, 0.3, 0.05, 7)
    assert bits(got) == bits(want)
    assert s.order_parameter() == ref.order_parameter(sin_t, cos_t)


@pytest.mark.parametrize("nodes, expect", [
    # [a, b, c]: each gets sin of the others' sum minus twice its own phase.
    ([0, 1, 2], lambda t: [math.sin(t[1] + t[2] - 2 * t[0]), math.sin(t[0] + t[2] - 2 * t[1]),
                           math.sin(t[0] + t[1] - 2 * t[2])]),
    # [a, a, b]: a receives sin(theta_b - theta_a) twice, b sin(2 theta_a - 2 theta_b) once.
    ([0, 0, 1], lambda t: [2 * math.sin(t[1] - t[0]), math.sin(2 * t[0] - 2 * t[1]), 0.0]),
    ([0, 0], lambda t: [0.0, 0.0, 0.0]),
    ([2], lambda t: [0.0, 0.0, 0.0]),
])
def test_hyperedge_terms(nodes, expect):
    theta = np.array([0.3, 1.1, 2.0])
    s = 1.5
    out = qk.PyHypergraphStepper(3, dt=1e-3).step(theta, np.zeros(3), [(nodes, s)], np.zeros(9), np.zeros(9), 0.0, 0.0)
    assert np.allclose((out - theta) / 1e-3, [s * v for v in expect(theta)], atol=1e-9)


NAN = math.nan


@pytest.mark.parametrize("change, message", [
    (dict(phases=np.zeros(2)), "invalid dimension: expected phases and omegas length 3, got 2/3"),
    (dict(omegas=np.zeros(4), phases=np.array([NAN] * 3)), "invalid dimension: expected phases and omegas length 3, got 3/4"),
    (dict(knm=np.zeros(0)), "invalid dimension: expected knm/alpha length 9 got 0/9"),
    (dict(alpha=np.array([NAN] * 8)), "invalid dimension: expected knm/alpha length 9 got 9/8"),
    (dict(edges=[([], 1.0)]), "invalid dimension: hyperedge contains empty or out-of-range nodes"),
    (dict(edges=[([0, 3], 1.0)], phases=np.array([NAN, 0, 0])),
     "invalid dimension: hyperedge contains empty or out-of-range nodes"),
    (dict(edges=[([0, 1], 1.0), ([1, 2], NAN)]), "integration diverged: hypergraph step inputs contain NaN/Inf"),
    (dict(zeta=NAN), "integration diverged: hypergraph step inputs contain NaN/Inf"),
])
def test_step_refusals_in_order_change_nothing(change, message):
    args = dict(phases=np.array([0.1, 0.2, 0.3]), omegas=np.ones(3), edges=[([0, 1, 2], 1.0)], knm=np.ones(9),
                alpha=np.zeros(9), zeta=0.0, psi=0.0)
    s = qk.PyHypergraphStepper(3)
    s.step(np.array([1.0, 2.0, 3.0]), np.ones(3), [], np.ones(9), np.zeros(9), 0.0, 0.0)
    before = s.order_parameter()
    args.update(change)
    with pytest.raises(ValueError) as e:
        s.step(**args)
    assert str(e.value) == message
    assert s.order_parameter() == before


@pytest.mark.parametrize("edges, exc, text", [
    ([[[0, 1], 1.0]], TypeError, None),
    ("ab", TypeError, None),
    ([([0, 1], 1.0, 2.0)], ValueError, "expected tuple of length 2, but got tuple of length 3"),
    ([([0, -1], 1.0)], OverflowError, None),
    ([([0, 1.5], 1.0)], TypeError, None),
])
def test_edges_conversion(edges, exc, text):
    with pytest.raises(exc) as e:
        qk.PyHypergraphStepper(3).step(np.zeros(3), np.zeros(3), edges, np.zeros(9), np.zeros(9), 0.0, 0.0)
    assert text is None or str(e.value) == text
    assert "edges" in " ".join(getattr(e.value, "__notes__", [])) + str(e.value)


@pytest.mark.parametrize("knm, alpha", [
    (np.zeros(0), np.array([1.0])),  # no pairwise term: alpha unread
    (np.ones(10), np.zeros(0)),  # n*n + 1: no pairwise term
    (np.ones(9), np.zeros(0)),  # full knm, empty alpha: the zero-lag path
    (np.ones(9), np.array([0.0, -0.0])),
    (np.ones(9), np.array([0.0] * 9 + [0.2])),  # a lag past n*n selects the general path
    (np.ones(9), np.r_[np.zeros(1500), math.nan]),  # so does a NaN, however far back
])
def test_run_without_validation_matches_the_reference(knm, alpha):
    phases = np.array([0.5, -2.0, 9.0, 42.0, -0.0])  # two beyond n come back as they were
    omegas = np.array([1.0, -0.0, 0.5, 7.0])
    edges = [([], 3.0), ([0, 2], 0.5)]  # the empty one is skipped
    got = qk.PyHypergraphStepper(3, dt=0.1).run(phases, omegas, edges, knm, alpha, 0.0, 0.0, 4)
    want, _, _ = ref.run(3, phases, omegas, edges, knm, alpha, 0.0, 0.0, 0.1, 4)
    assert bits(got) == bits(want)
    assert bits(got[3:]) == bits(phases[3:])


@pytest.mark.parametrize("change", [
    dict(phases=np.zeros(2)), dict(omegas=np.zeros(2)), dict(edges=[([0, 3], 1.0)]),
    dict(alpha=np.array([0.0] * 7 + [0.5])),
])
def test_run_shortfalls_raise_the_internal_error_and_leave_the_object_usable(change):
    args = dict(phases=np.array([0.1, 0.2, 0.3]), omegas=np.ones(3), edges=[([0, 1, 2], 1.0)], knm=np.ones(9),
                alpha=np.full(9, 0.1), zeta=0.0, psi=0.0)
    s = qk.PyHypergraphStepper(3)
    args.update(change)
    assert internal_error(lambda: s.run(n_steps=1, **args)).startswith("index out of range")
    assert len(s.run(n_steps=0, **args)) == len(args["phases"])  # zero steps read nothing
    assert s.order_parameter() == (0.0, 0.0)
    s.step(np.array([0.1, 0.2, 0.3]), np.ones(3), [], np.ones(9), np.zeros(9), 0.0, 0.0)


def test_order_parameter_reads_the_phases_before_the_last_update():
    s = qk.PyHypergraphStepper(4)
    assert s.order_parameter() == (0.0, 0.0)
    zeros = np.full(4, -0.0)
    s.step(zeros, np.ones(4), [], np.zeros(16), np.zeros(16), 0.0, 0.0)
    r, psi = s.order_parameter()
    assert r == 1.0 and bits(psi) == bits(-0.0)  # sin sums from -0.0 keep the sign
    s.run(np.array([1.0, 2.0, 3.0, 4.0]), np.ones(4), [], np.zeros(16), np.zeros(16), 0.0, 0.0, 0)
    assert s.order_parameter() == (r, psi)


def flat(phases, omegas, n, nodes, offsets, strengths, knm=np.zeros(0), alpha=np.zeros(0), dt=0.1, n_steps=3):
    return qk.hypergraph_run_rust(phases, omegas, n, np.asarray(nodes, I64), np.asarray(offsets, I64),
                                  np.array(strengths, float), knm, alpha, 0.2, 1.0, dt, n_steps)


@pytest.mark.parametrize("offsets, strengths, edges", [
    ([0, 2], [0.5, -0.7, 9.0], [([0, 1], 0.5), ([1, 2], -0.7)]),  # an extra strength is ignored
    ([0], [0.5], [([0, 1, 1, 2], 0.5)]),
    ([1, 3], [0.5, 2.0], [([1, 1], 0.5), ([2], 2.0)]),  # entries before the first offset belong to no edge
    ([], [], []),
])
def test_flat_hyperedges(offsets, strengths, edges):
    phases, omegas = np.array([0.3, 1.0, 2.5, 8.0]), np.array([0.1, 0.2, 0.3])
    got = flat(phases, omegas, 3, [0, 1, 1, 2], offsets, strengths)
    cls = qk.PyHypergraphStepper(3, dt=0.1).run(phases, omegas, edges, np.zeros(0), np.zeros(0), 0.2, 1.0, 3)
    assert bits(got) == bits(cls)
    assert got[3] == 8.0


@pytest.mark.parametrize("n, offsets, strengths, dt, n_steps, text", [
    (3, [2, 1], [1.0, 1.0], 0.1, 0, "range out of bounds"),
    (3, [0, 5], [1.0, 1.0], 0.1, 1, "range out of bounds"),
    (0, [-1], [1.0], 0.1, 0, "range out of bounds"),  # decoded before the stepper is built
    (3, [0, 2], [1.0], 0.1, 1, "index out of range"),  # a missing strength
    (0, [0], [1.0], 0.1, 0, 'stepper init failed: InvalidDimension("n must be > 0")'),
    (3, [0], [1.0], 0.0, 0, 'stepper init failed: InvalidConfig("dt must be positive finite, got 0")'),
    (3, [0], [1.0], -math.inf, 0, 'stepper init failed: InvalidConfig("dt must be positive finite, got -inf")'),
])
def test_flat_run_failures(n, offsets, strengths, dt, n_steps, text):
    call = lambda: flat(np.zeros(3), np.zeros(3), n, [0, 1, 1, 2], offsets, strengths, dt=dt, n_steps=n_steps)
    assert internal_error(call).startswith(text)
    # A negative node is a huge index.
    assert internal_error(flat, np.zeros(3), np.zeros(3), 3, [0, -1], [0], [1.0]).startswith("index out of range")


def test_contiguity_messages():
    strided = np.zeros(6)[::2]
    with pytest.raises(ValueError, match="^phases not contiguous(\n|$)"):
        qk.PyHypergraphStepper(3).run(strided, np.zeros(3), [], np.zeros(9), np.zeros(9), 0.0, 0.0, 1)
    with pytest.raises(ValueError, match="^The given array is not contiguous or is misaligned.(\n|$)"):
        flat(np.zeros(3), np.zeros(3), 3, np.zeros(6, I64)[::2], [0], [1.0])


@pytest.mark.parametrize("lags", [False, True])
def test_one_cpu_gives_the_same_bits(lags):
    # Rows in several chunks, in groups of eight and one by one.
    same_on_one_cpu(f"""
import numpy as np, qel_kernel as qk
rng = np.random.default_rng(3)
n = 203
knm, alpha = rng.uniform(0.0, 0.02, n * n), rng.uniform(-0.3, 0.3, n * n) * {lags}
nodes, offsets = np.arange(12, dtype=np.int64), np.arange(0, 12, 3, dtype=np.int64)
out = qk.hypergraph_run_rust(rng.uniform(0.0, 6.0, n), rng.normal(1.0, 0.3, n), n, nodes, offsets,
                             np.full(4, 0.3), knm, alpha, 0.5, 1.0, 0.01, 5).tobytes()
""")
