"""Hodge decomposition of the coupling flow on edges and triangles."""
import itertools

import numpy as np
import pytest

import qel_kernel as qk
from reference import hodge as ref
from support import internal_error, same_on_one_cpu


def run(knm, phases, n, edges, tris=()):
    e, t = np.array(edges, dtype=np.int64).ravel(), np.array(tris, dtype=np.int64).ravel()
    return qk.hodge_decomposition_rust(np.asarray(knm, float), np.asarray(phases, float), n, e, len(edges), t,
                                       len(tris))


def network(n, seed):
    rng = np.random.default_rng(seed)
    return rng.uniform(0.2, 2.0, n * n), rng.uniform(0.0, 2 * np.pi, n)


def test_worked_cases():
    knm, phases = network(5, 1)
    tree = [(0, 1), (1, 2), (3, 1), (2, 4)]
    g, c, h = run(knm, phases, 5, tree)
    np.testing.assert_allclose(g, ref.as_matrix(ref.decompose(knm, phases, 5, tree, [])[0], 5, tree), atol=1e-14)
    assert not c.any() and np.abs(h).max() < 1e-14
    # A 4-cycle circulates harmonically until a chord and two triangles are listed.
    cycle, ones, ramp = [(0, 1), (1, 2), (2, 3), (0, 3)], np.ones(16), np.arange(4.0)
    g, c, h = run(ones, ramp, 4, cycle)
    assert not c.any() and np.abs(h).max() > 0.1
    g, c, h = run(ones, ramp, 4, cycle + [(0, 2)], [(0, 1, 2), (0, 2, 3)])
    assert np.abs(h).max() < 1e-14 and np.abs(c).max() > 0.1
    f = ref.decompose(ones, ramp, 4, cycle + [(0, 2)], [])[0]
    np.testing.assert_allclose((g + c + h)[[1, 6, 11, 3, 2]], f, rtol=0, atol=1e-15)
    # One triangle: L2 = [3], psi = (f01 + f12 - f02) / 3.
    f01, f12, f02 = ref.decompose(knm[:9], phases[:3], 3, [(0, 1), (1, 2), (0, 2)], [])[0]
    psi = (f01 + f12 - f02) / 3
    _, c, _ = run(knm[:9], phases[:3], 3, [(0, 1), (1, 2), (0, 2)], [(0, 1, 2)])
    assert c.tolist() == [0.0, psi, -psi, -psi, 0.0, psi, psi, -psi, 0.0]


@pytest.mark.parametrize("n, seed, extra", [(12, 3, ()), (9, 4, [(0, 1), (5, 2), (3, 3)]), (6, 5, [(1, 0)])])
def test_against_incidence_matrices(n, seed, extra):
    """Repeated, reversed and self edges included: the later edge wins."""
    knm, phases = network(n, seed)
    rng = np.random.default_rng(seed)
    pairs = [p for p in itertools.combinations(range(n), 2) if rng.uniform() < 0.45]
    tris = [t for t in itertools.combinations(range(n), 3) if {t[:2], t[1:], t[::2]} <= set(pairs)]
    edges = pairs + list(extra)
    parts = run(knm, phases, n, edges, tris)
    f, *expected = ref.decompose(knm, phases, n, edges, tris)
    for ours, theirs in zip(parts, expected):
        np.testing.assert_allclose(ours, ref.as_matrix(theirs, n, edges), rtol=0, atol=1e-10)
    g, c, h = parts
    for e, (s, d) in enumerate(pairs):
        if (s, d) not in extra and (d, s) not in extra:
            assert g[s * n + d] == -g[d * n + s] and g[s * n + d] + c[s * n + d] + h[s * n + d] == pytest.approx(f[e])


@pytest.mark.parametrize(
    "tris",
    [
        [(0, 1, 2), (0, 1, 2), (0, 2, 3)],  # a triangle listed twice
        [(0, 1, 2), (0, 0, 1), (1, 1, 1)],  # sides on self edges, one edge twice within a triangle
        [(0, 1, 2), (1, 2, 3), (0, 2, 3), (0, 1, 3)],  # the closed surface of a tetrahedron
    ],
)
def test_triangle_matrix_with_shared_and_repeated_sides(tris):
    n, edges = 4, [(0, 1), (1, 2), (0, 2), (2, 3), (0, 3), (1, 3), (0, 0), (1, 1)]
    knm, phases = network(n, 8)
    parts = run(knm, phases, n, edges, tris)
    _, *expected = ref.decompose(knm, phases, n, edges, tris)
    for ours, theirs in zip(parts, expected):
        np.testing.assert_allclose(ours, ref.as_matrix(theirs, n, edges), rtol=0, atol=1e-12)


def test_results_do_not_depend_on_the_cpus():
    same_on_one_cpu(
        "import itertools, numpy as np, qel_kernel as qk\n"
        "rng = np.random.default_rng(2); n = 24\n"
        "pairs = [p for p in itertools.combinations(range(n), 2) if rng.uniform() < 0.6]\n"
        "tris = [t for t in itertools.combinations(range(n), 3) if {t[:2], t[1:], t[::2]} <= set(pairs)]\n"
        "e, t = np.array(pairs, dtype=np.int64).ravel(), np.array(tris, dtype=np.int64).ravel()\n"
        "parts = qk.hodge_decomposition_rust(rng.uniform(0.2, 2, n*n), rng.uniform(0, 6, n), n, e, len(pairs), t,"
        " len(tris))\n"
        "assert len(tris) > 300\n"
        "out = b''.join(p.tobytes() for p in parts)\n")


@pytest.mark.parametrize(
    "n, edges, n_edges, tris, n_tris, knm_len, phases_len",
    [
        (3, [0, 1, 1, 2, 2, 0], 3, [0, 1, 2], 1, 9, 3),  # side (0, 2) listed only reversed
        (3, [], 0, [0, 1, 2], 1, 9, 3),
        (3, [0, -1], 1, [], 0, 100, 100),  # endpoint negative, arrays long enough
        (3, [3, 0], 1, [], 0, 100, 100),  # endpoint n
        (2**33, [1, 0], 1, [], 0, 100, 100),  # s*n+d far beyond knm
        (3, [0, 2], 1, [], 0, 6, 3),  # d*n+s beyond knm
        (3, [0, 2], 1, [], 0, 9, 2),  # phase of the target missing
        (2, [0, 1, 1], 2, [], 0, 4, 2),  # short edge array
        (2, [0, 1], 1, [0, 1], 1, 4, 2),  # short triangle array
        (2, [0, 1], 2**62, [], 0, 4, 2),
        (2, [0, 1], 1, [], 2**62, 4, 2),
    ],
)
def test_internal_errors(n, edges, n_edges, tris, n_tris, knm_len, phases_len):
    e, t = np.array(edges, dtype=np.int64), np.array(tris, dtype=np.int64)
    internal_error(qk.hodge_decomposition_rust, np.ones(knm_len), np.zeros(phases_len), n, e, n_edges, t, n_tris)


def test_degenerate_inputs():
    bad = np.array([1, -2, 3], dtype=np.int64)
    assert [a.size for a in qk.hodge_decomposition_rust(np.zeros(0), np.zeros(0), 0, bad, 7, bad, 9)] == [0, 0, 0]
    assert all(a.size == 9 and not a.any() for a in run(np.ones(9), np.zeros(3), 3, []))
    assert all(not a.any() for a in run(np.ones(9), np.ones(3), 3, [(0, 1), (1, 2), (0, 2)], [(0, 1, 2)]))
    with pytest.raises(MemoryError):  # n*n beyond any allocation
        run([], [], 2**40, [])
    with pytest.raises(ValueError, match="^The given array is not contiguous or is misaligned.(\n|$)"):
        qk.hodge_decomposition_rust(np.ones(4), np.zeros(2), 2, bad, 1, np.zeros(4, dtype=np.int64)[::2], 0)


def test_nothing_to_invert():
    """Flows that all vanish give three zero parts, even where no eigenpair survives the cut-off."""
    self_loop = np.array([0, 0], dtype=np.int64)
    parts = [qk.hodge_decomposition_rust(np.ones(9), np.zeros(3), 3, self_loop, 1, np.zeros(0, dtype=np.int64), 0)]
    knm, phases = network(40, 9)  # self-loops only: a zero Laplacian, a nonzero triangle matrix
    parts.append(run(knm, phases, 40, [(i % 40, i % 40) for i in range(60)], [(i, i, i) for i in range(0, 40, 3)]))
    parts.append(run(knm, phases, 40, []))
    parts.append(run([2.0], [1.0], 1, [(0, 0)]))  # one oscillator: the solver's 1 x 1 route
    sizes = [[(p.size, p.any()) for p in ps] for ps in parts]
    assert sizes == [[(9, False)] * 3] + [[(1600, False)] * 3] * 2 + [[(1, False)] * 3]
