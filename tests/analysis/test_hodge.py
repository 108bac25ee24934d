"""Hodge decomposition of the coupling flow on edges and triangles."""
import itertools

import numpy as np
import pytest

import qel_kernel as qk
from reference import hodge as ref


def internal_error(fn, *args):
    with pytest.raises(BaseException) as info:
        fn(*args)
    assert type(info.value).__name__ == "PanicException"


def run(knm, phases, n, edges, tris=()):
    e = np.array(edges, dtype=np.int64).ravel()
    t = np.array(tris, dtype=np.int64).ravel()
    return qk.hodge_decomposition_rust(np.asarray(knm, float), np.asarray(phases, float), n, e, len(edges), t,
                                       len(tris))


def network(n, seed):
    rng = np.random.default_rng(seed)
    return rng.uniform(0.2, 2.0, n * n), rng.uniform(0.0, 2 * np.pi, n)


def test_tree_is_all_gradient():
    knm, phases = network(5, 1)
    edges = [(0, 1), (1, 2), (3, 1), (2, 4)]
    g, c, h = run(knm, phases, 5, edges)
    f = ref.decompose(knm, phases, 5, edges, [])[0]
    np.testing.assert_allclose(g, ref.as_matrix(f, 5, edges), rtol=0, atol=1e-14)
    assert not c.any() and np.abs(h).max() < 1e-14


def test_cycle_moves_from_harmonic_to_curl():
    knm, phases = np.ones(16), np.array([0.0, 1.0, 2.0, 3.0])
    cycle = [(0, 1), (1, 2), (2, 3), (0, 3)]
    g, c, h = run(knm, phases, 4, cycle)
    assert not c.any() and np.abs(h).max() > 0.1
    g2, c2, h2 = run(knm, phases, 4, cycle + [(0, 2)], [(0, 1, 2), (0, 2, 3)])
    assert np.abs(h2).max() < 1e-14 and np.abs(c2).max() > 0.1
    f = ref.decompose(knm, phases, 4, cycle + [(0, 2)], [])[0]
    np.testing.assert_allclose((g2 + c2 + h2)[[1, 6, 11, 3, 2]], f, rtol=0, atol=1e-15)


def test_one_triangle():
    knm, phases = network(3, 2)
    edges = [(0, 1), (1, 2), (0, 2)]
    f01, f12, f02 = ref.decompose(knm, phases, 3, edges, [])[0]
    psi = (f01 + f12 - f02) / 3
    _, c, _ = run(knm, phases, 3, edges, [(0, 1, 2)])
    assert c.tolist() == [0.0, psi, -psi, -psi, 0.0, psi, psi, -psi, 0.0]


def random_complex(n, seed, extra_edges=()):
    rng = np.random.default_rng(seed)
    pairs = [p for p in itertools.combinations(range(n), 2) if rng.uniform() < 0.45]
    tris = [t for t in itertools.combinations(range(n), 3)
            if {(t[0], t[1]), (t[1], t[2]), (t[0], t[2])} <= set(pairs)]
    return pairs + list(extra_edges), tris


@pytest.mark.parametrize("n, seed, extra", [(12, 3, ()), (9, 4, [(0, 1), (5, 2), (3, 3)]), (6, 5, [(1, 0)])])
def test_against_incidence_matrices(n, seed, extra):
    """Repeated, reversed and self edges included: the later edge wins."""
    knm, phases = network(n, seed)
    edges, tris = random_complex(n, seed, extra)
    assert tris
    g, c, h = run(knm, phases, n, edges, tris)
    f, gr, cr, hr = ref.decompose(knm, phases, n, edges, tris)
    for ours, theirs in ((g, gr), (c, cr), (h, hr)):
        np.testing.assert_allclose(ours, ref.as_matrix(theirs, n, edges), rtol=0, atol=1e-10)
    simple = [e for e in edges if e[0] != e[1] and sum(x in (e, e[::-1]) for x in edges) == 1]
    for s, d in simple:
        assert g[s * n + d] == -g[d * n + s]
        assert g[s * n + d] + c[s * n + d] + h[s * n + d] == pytest.approx(f[edges.index((s, d))], abs=1e-14)


def test_degenerate_inputs():
    empty = run([], [], 0, [(5, -1)], [(9, 9, 9)])  # n = 0 reads nothing
    assert [a.tolist() for a in empty] == [[], [], []]
    bad = np.array([1, 2, 3], dtype=np.int64)
    assert [a.size for a in qk.hodge_decomposition_rust(np.zeros(0), np.zeros(0), 0, bad, 7, bad, 9)] == [0, 0, 0]
    assert all(not a.any() and a.size == 9 for a in run(np.ones(9), np.zeros(3), 3, []))
    assert all(not a.any() for a in run(np.ones(9), np.ones(3), 3, [(0, 1), (1, 2), (0, 2)], [(0, 1, 2)]))
    with pytest.raises(MemoryError):
        run([], [], 2**40, [])


@pytest.mark.parametrize(
    "n, edges, tris, knm_len, phases_len",
    [
        (3, [(0, 1), (1, 2), (2, 0)], [(0, 1, 2)], 9, 3),  # side (0, 2) listed only reversed
        (3, [], [(0, 1, 2)], 9, 3),
        (3, [(0, 1), (1, 2), (0, 2)], [(0, 1, 3)], 9, 3),
        (3, [(0, -1)], [], 100, 100),  # endpoint negative, arrays long enough
        (3, [(3, 0)], [], 100, 100),  # endpoint n
        (2**33, [(1, 0)], [], 100, 100),  # s*n+d far beyond knm
        (3, [(0, 2)], [], 6, 3),  # d*n+s beyond knm
        (3, [(0, 2)], [], 9, 2),  # phase of the target missing
    ],
)
def test_internal_errors(n, edges, tris, knm_len, phases_len):
    internal_error(run, np.ones(knm_len), np.zeros(phases_len), n, edges, tris)


def test_short_index_arrays():
    e = np.array([0, 1, 1], dtype=np.int64)
    t = np.array([0, 1], dtype=np.int64)
    ok = np.array([0, 1], dtype=np.int64)
    for args in ((e, 2, ok, 0), (ok, 1, t, 1), (ok, 2**62, ok, 0), (ok, 1, ok, 2**62)):
        internal_error(qk.hodge_decomposition_rust, np.ones(4), np.zeros(2), 2, args[0], args[1], args[2], args[3])
    with pytest.raises(TypeError):
        qk.hodge_decomposition_rust(np.ones(4), np.zeros(2), 2, ok.astype(float), 1, ok, 0)
    with pytest.raises(ValueError, match="^The given array is not contiguous or is misaligned.$"):
        qk.hodge_decomposition_rust(np.ones(4), np.zeros(2), 2, ok, 1, np.zeros(4, dtype=np.int64)[::2], 0)
