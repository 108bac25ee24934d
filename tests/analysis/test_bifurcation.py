"""Steady-state order parameter, synchronisation sweep, critical-coupling
bisection and basin stability, bit for bit against plain-Python references."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import bifurcation as ref
from support import internal_error, same_on_one_cpu


def same(a, b):
    return a == b or (math.isnan(a) and math.isnan(b))


def network(n, seed, extra=0, density=1.0, lags=True, omega=1.0):
    rng = np.random.default_rng(seed)
    phases = rng.uniform(0.0, 2 * math.pi, n + extra)
    knm = rng.uniform(-0.5, 1.5, n * n) * (rng.uniform(size=n * n) < density)
    alpha = rng.uniform(-0.4, 0.4, n * n) if lags else np.zeros(n * n)
    return phases, rng.normal(omega, 0.5, n), knm, alpha


def mover(others, n_measure=1):
    """Oscillator 0 alone moves, to exactly k in one step (dt 1, K 1, lag -pi/2,
    no frequency); the others stay, so R(k) = |exp(ik) + sum exp(i other)| / L."""
    return (np.zeros(1), np.ones(1), np.array([-math.pi / 2]), 1, np.array([0.0, *others]), 1.0, 0, n_measure)


def sweep(net, k_min, k_max, n_points):
    omegas, knm, alpha, n, phases, dt, n_transient, n_measure = net
    return qk.trace_sync_transition_rust(omegas, knm, alpha, n, phases, k_min, k_max, n_points, dt, n_transient,
                                         n_measure)


@pytest.mark.parametrize(
    "n, extra, density, lags, omega, k_scale, dt, n_transient, n_measure",
    [
        (4, 0, 1.0, True, 1.0, 2.5, 0.01, 20, 10),
        (6, 3, 0.5, True, 1.0, 0.7, 0.02, 5, 5),      # extra phases stay but count in R
        (5, 0, 1.0, False, 1.0, -1.3, -0.03, 4, 3),   # negative scale, backwards in time
        (3, 1, 1.0, True, 500.0, 0.4, 0.1, 40, 5),    # phases far beyond 2pi: never wrapped
        (5, 0, 1.0, None, 1.0, 0.0, 0.1, 3, 4),       # scale 0 skips every pair: no lag read
        (3, 2, 1.0, True, 1.0, 1.0, 0.05, 7, 0),      # no measured step: NaN
        (0, 4, 1.0, True, 1.0, 1.0, 0.05, 3, 3),      # nothing moves
    ],
)
def test_steady_state_matches_reference(n, extra, density, lags, omega, k_scale, dt, n_transient, n_measure):
    phases, omegas, knm, alpha = network(n, n + extra, extra, density, bool(lags), omega)
    if lags is None:
        alpha = np.empty(0)
    before = phases.copy()
    ours = qk.steady_state_r_rust(phases, omegas, knm, alpha, n, k_scale, dt, n_transient, n_measure)
    assert same(ours, ref.steady_state_r(phases, omegas, knm, alpha, n, k_scale, dt, n_transient, n_measure))
    assert np.array_equal(phases, before)


@pytest.mark.parametrize("coupling, reads_lag", [(-1e-30, True), (0.99e-30, False), (math.nan, True)])
def test_skip_threshold(coupling, reads_lag):
    args = (np.array([0.1, 0.2]), np.array([1.0, 2.0]), np.array([0.0, coupling, 0.0, 0.0]))
    if reads_lag:
        internal_error(qk.steady_state_r_rust, *args, np.zeros(1), 2, 1.0, 0.1, 1, 1)
    ours = qk.steady_state_r_rust(*args, np.zeros(4 if reads_lag else 1), 2, 1.0, 0.1, 1, 1)
    assert same(ours, ref.steady_state_r(*args, [0.0] * 4, 2, 1.0, 0.1, 1, 1))


def test_degenerate_sizes():
    empty = np.empty(0)
    assert qk.steady_state_r_rust(empty, empty, empty, empty, 0, 1.0, 0.1, 2, 3) == 0.0
    # Nothing steps, so nothing but the phases is read, whatever n says.
    assert math.isnan(qk.steady_state_r_rust(empty, empty, empty, empty, 9, 1.0, 0.1, 0, 0))
    # Equal phases: the mean vector rounds above 1 and is not capped.
    assert qk.steady_state_r_rust(np.full(3, 2.84), empty, empty, empty, 0, 1.0, 0.1, 0, 2) == 1.0000000000000002


@pytest.mark.parametrize("short", [0, 1, 2, 3])
def test_short_inputs_fail_only_when_a_step_runs(short):
    arrays = list(network(4, 3))
    arrays[short] = arrays[short][:-1].copy()
    internal_error(qk.steady_state_r_rust, *arrays, 4, 1.0, 0.1, 1, 0)
    internal_error(qk.steady_state_r_rust, *arrays, 4, 1.0, 0.1, 0, 1)
    assert math.isnan(qk.steady_state_r_rust(*arrays, 4, 1.0, 0.1, 0, 0))


@pytest.mark.parametrize("k_min, k_max, n_points", [(0.3, 2.9, 7), (3.0, -1.0, 5), (1.5, 9.0, 1), (1.0, 2.0, 0)])
def test_sweep_is_steady_state_on_the_grid(k_min, k_max, n_points):
    phases, omegas, knm, alpha = network(4, 8, extra=1)
    grid, r, k_c = qk.trace_sync_transition_rust(omegas, knm, alpha, 4, phases, k_min, k_max, n_points, 0.05, 6, 4)
    assert grid.tolist() == ref.grid(k_min, k_max, n_points)
    assert r.tolist() == [qk.steady_state_r_rust(phases, omegas, knm, alpha, 4, k, 0.05, 6, 4) for k in grid]
    assert same(k_c, ref.first_upward_crossing(grid.tolist(), r.tolist()))


@pytest.mark.parametrize(
    "others, k_min, k_max, n_points, found",
    [
        ([0.0], 0.0, 2 * math.pi, 9, True),     # R = |cos(k/2)| falls through 0.1 first, then rises
        ([0.0], 0.0, 4 * math.pi, 17, True),    # two upward crossings: the first counts
        ([0.0, 2.0, 4.0], 0.0, 0.3, 4, False),  # always below
    ],
)
def test_first_upward_crossing(others, k_min, k_max, n_points, found):
    grid, r, k_c = sweep(mover(others), k_min, k_max, n_points)
    assert r.tolist() == [ref.magnitude([k, *others]) for k in grid]
    assert same(k_c, ref.first_upward_crossing(grid.tolist(), r.tolist())) and math.isnan(k_c) != found
    if found:
        i = next(i for i in range(len(r) - 1) if r[i] < 0.1 <= r[i + 1])
        assert grid[i] < k_c <= grid[i + 1] and r[0] >= 0.1
    _, r, k_c = sweep(mover(others, n_measure=0), k_min, k_max, n_points)
    assert np.isnan(r).all() and math.isnan(k_c)


def test_sweep_fails_when_one_point_reads_past_an_input():
    phases, omegas, knm, _ = network(3, 4)
    # Scale 0 skips every pair and needs no lag; every other point does.
    assert len(qk.trace_sync_transition_rust(omegas, knm, np.empty(0), 3, phases, 0.0, 0.0, 2, 0.1, 2, 2)[1]) == 2
    internal_error(qk.trace_sync_transition_rust, omegas, knm, np.empty(0), 3, phases, 0.0, 1.0, 4, 0.1, 2, 2)
    internal_error(qk.trace_sync_transition_rust, omegas, knm[:-1].copy(), knm, 3, phases, 0.0, 1.0, 4, 0.1, 2, 2)


def test_sweep_does_not_depend_on_worker_count():
    same_on_one_cpu("""import test_bifurcation as t, numpy as np, qel_kernel as qk
phases, omegas, knm, alpha = t.network(24, 11, density=0.6)
_, r, k_c = qk.trace_sync_transition_rust(omegas, knm * 0.1, alpha, 24, phases, 0.0, 3.0, 40, 0.05, 30, 10)
out = np.append(r, k_c).tobytes()""")


# n = 150 splits each step's rows over the pool; the basin samples run on it at any n.
def test_rows_and_samples_do_not_depend_on_worker_count():
    same_on_one_cpu("""import test_bifurcation as t, numpy as np, qel_kernel as qk
phases, omegas, knm, alpha = t.network(150, 12, extra=2, density=0.7)
knm *= 0.02
r = [qk.steady_state_r_rust(phases, omegas, knm, alpha, 150, 1.7, 0.02, 6, 4),
     qk.find_critical_coupling_bif_rust(omegas, knm, alpha, 150, phases, 0.02, 3, 2, 0.5)]
_, rs, k_c = qk.trace_sync_transition_rust(omegas, knm, alpha, 150, phases, 0.0, 2.0, 5, 0.02, 3, 2)
basins = [qk.basin_stability_rust(omegas, knm, alpha, n, 0.02, 4, 3, 40, 0.3, 2**63 + 5)[1] for n in (150, 5)]
out = np.concatenate([r, rs, [k_c], *basins]).tobytes()""")


@pytest.mark.parametrize("tol", [0.5, 1e-12, -1.0, math.nan])
def test_bisection_matches_python_bisection(tol):
    phases, omegas, knm, alpha = network(4, 21)
    knm = np.abs(knm) * 0.2
    ours = qk.find_critical_coupling_bif_rust(omegas, knm, alpha, 4, phases, 0.05, 20, 10, tol)
    expected = ref.bisection(lambda k: qk.steady_state_r_rust(phases, omegas, knm, alpha, 4, k, 0.05, 20, 10), tol)
    assert same(ours, expected)


@pytest.mark.parametrize(
    "net, tol, expected",
    [(mover([0.0]), 10.5, 5.0), (mover([10.0 - math.pi]), 1e9, 15.0),  # one halving: R(10) = |cos 5|, then ~0
     (mover([20.0 - math.pi]), 1e-6, math.nan),                        # R(20) ~ 0: nothing in range
     (mover([0.0], n_measure=0), 0.0, 10.0 / 2**30)],                  # NaN R moves hi down 30 times
)
def test_bisection_edges(net, tol, expected):
    omegas, knm, alpha, n, phases, dt, n_transient, n_measure = net
    got = qk.find_critical_coupling_bif_rust(omegas, knm, alpha, n, phases, dt, n_transient, n_measure, tol)
    assert same(got, expected)


@pytest.mark.parametrize("seed", [0, 2**64 - 1])
def test_basin_runs_from_seeded_draws(seed):
    n, samples = 3, 6
    _, omegas, knm, alpha = network(n, 30)
    args = (omegas, knm * 0.5, alpha, n, 0.05, 10, 5)
    fraction, r, count = qk.basin_stability_rust(*args, samples, 0.5, seed)
    draws = ref.lcg_phases(seed, n * samples)
    expected = [qk.steady_state_r_rust(np.array(draws[s * n:(s + 1) * n]), *args[:4], 1.0, 0.05, 10, 5)
                for s in range(samples)]
    assert r.tolist() == expected
    assert count == sum(x >= 0.5 for x in expected) and fraction == count / samples
    # One stream across samples: a longer run extends a shorter one.
    assert qk.basin_stability_rust(*args, samples + 1, 0.5, seed)[1][:samples].tolist() == expected
    assert qk.basin_stability_rust(*args, samples, expected[2], seed)[2] == sum(x >= expected[2] for x in expected)
    assert ref.lcg_phases(0, 2) == pytest.approx([0.4914, 0.6390], abs=1e-4)


@pytest.mark.parametrize(
    "n, n_measure, n_samples, threshold, expected",
    [(2, 5, 0, 0.5, (0.0, [], 0)), (0, 5, 3, 0.0, (1.0, [0.0] * 3, 3)), (2, 0, 4, -1.0, (0.0, [math.nan] * 4, 0))],
)
def test_basin_degenerate_cases(n, n_measure, n_samples, threshold, expected):
    _, omegas, knm, alpha = network(n, 1)
    fraction, r, count = qk.basin_stability_rust(omegas, knm, alpha, n, 0.1, 3, n_measure, n_samples, threshold, 5)
    assert (fraction, count) == (expected[0], expected[2])
    assert all(same(a, b) for a, b in zip(r.tolist(), expected[1], strict=True))


def test_basin_inputs_and_sizes():
    _, omegas, knm, alpha = network(3, 2)
    internal_error(qk.basin_stability_rust, omegas, knm[:-1].copy(), alpha, 3, 0.1, 1, 1, 2, 0.5, 0)
    # A short input is reported before the R vector is sized; a huge one cannot be had.
    internal_error(qk.basin_stability_rust, omegas[:1].copy(), knm, alpha, 3, 0.1, 1, 1, 2**62, 0.5, 0)
    with pytest.raises(MemoryError):
        qk.basin_stability_rust(omegas, knm, alpha, 3, 0.1, 1, 1, 2**62, 0.5, 0)
    # No sample, nothing sized by n.
    assert qk.basin_stability_rust(omegas, knm, alpha, 2**62, 0.1, 1, 1, 0, 0.5, 0)[2] == 0
    with pytest.raises(OverflowError):
        qk.basin_stability_rust(omegas, knm, alpha, 3, 0.1, 1, 1, 2, 0.5, 2**64)
