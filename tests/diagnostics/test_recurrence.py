"""Recurrence and cross-recurrence matrices, recurrence quantification."""
import math

import numpy as np
import pytest
from scipy.spatial.distance import cdist

import qel_kernel as qk
from reference import recurrence as ref
from support import same_on_one_cpu

PANIC = BaseException  # the module's internal-error type derives from it, not from Exception


def eps_between(d2):
    """A radius whose square is far from every squared distance, recurring for about a third of pairs."""
    v = np.unique(d2.ravel())
    k = int(np.searchsorted(v, np.quantile(v, 0.3)))
    return math.sqrt(0.5 * (v[k] + v[k + 1]))


@pytest.mark.parametrize("t, d", [(1, 3), (70, 3), (130, 1), (200, 5)])
def test_euclidean_against_cdist(t, d):
    rng = np.random.default_rng(t)
    a, b = rng.normal(size=t * d), rng.normal(size=t * d)
    x, y = a.reshape(t, d), b.reshape(t, d)
    eps = eps_between(cdist(x, y, "sqeuclidean")) if t > 1 else 0.5
    rec = qk.recurrence_matrix_rust(a, t, d, eps).reshape(t, t)
    want = cdist(x, x, "sqeuclidean") <= eps**2
    np.fill_diagonal(want, True)
    assert rec.dtype == np.uint8 and np.array_equal(rec, want)
    cross = qk.cross_recurrence_matrix_rust(a, b, t, d, -eps).reshape(t, t)
    assert np.array_equal(cross, cdist(x, y, "sqeuclidean") <= eps**2)
    assert np.array_equal(qk.cross_recurrence_matrix_rust(b, a, t, d, eps).reshape(t, t), cross.T)


@pytest.mark.parametrize("t, d", [(65, 2), (150, 1)])
def test_angular_against_chords(t, d):
    rng = np.random.default_rng(d)
    a, b = rng.uniform(-20.0, 20.0, t * d), rng.uniform(-20.0, 20.0, t * d)
    d2 = ref.squared_distances(a, b, t, d, True)
    eps = eps_between(d2)
    assert np.array_equal(qk.cross_recurrence_matrix_rust(a, b, t, d, eps, True).reshape(t, t), d2 <= eps**2)
    want = ref.squared_distances(a, a, t, d, True) <= eps**2
    np.fill_diagonal(want, True)
    assert np.array_equal(qk.recurrence_matrix_rust(a, t, d, eps, angular=True).reshape(t, t), want)


@pytest.mark.parametrize(
    "pair, eps, recurs",
    [((0.0, math.pi), 2.0, 1), ((0.0, math.pi), -2.0, 1), ((0.0, math.pi), 1.9999999, 0),
     ((0.0, 2 * math.pi), 0.0, 0), ((0.0, 2 * math.pi), 1e-15, 1), ((0.0, 3.0), 3.0, None)],
)
def test_angular_and_inclusive_edges(pair, eps, recurs):
    angular = recurs is not None
    got = qk.recurrence_matrix_rust(np.array(pair), 2, 1, eps, angular).tolist()
    r = 1 if recurs is None else recurs
    assert got == [1, r, r, 1]


def test_nan_point_and_nan_radius():
    traj = np.array([0.0, 0.0, math.nan, 0.0, 0.0, 0.0])  # point 1 has a NaN coordinate
    assert qk.recurrence_matrix_rust(traj, 3, 2, 1.0).tolist() == [1, 0, 1, 0, 1, 0, 1, 0, 1]
    assert qk.cross_recurrence_matrix_rust(traj, traj, 3, 2, 1.0).tolist() == [1, 0, 1, 0, 0, 0, 1, 0, 1]
    ones = np.ones(6)
    assert qk.recurrence_matrix_rust(ones, 3, 2, math.nan).tolist() == np.eye(3, dtype=int).ravel().tolist()
    assert not qk.cross_recurrence_matrix_rust(ones, ones, 3, 2, math.nan).any()


def test_no_coordinates_and_no_points():
    assert qk.recurrence_matrix_rust(np.zeros(0), 70, 0, 0.0).all()
    assert qk.cross_recurrence_matrix_rust(np.zeros(0), np.zeros(0), 3, 0, 0.0).all()
    for out in (qk.recurrence_matrix_rust(np.zeros(0), 0, 3, 1.0),
                qk.cross_recurrence_matrix_rust(np.zeros(0), np.zeros(0), 0, 3, 1.0)):
        assert out.dtype == np.uint8 and out.size == 0


@pytest.mark.parametrize(
    "call, message",
    [(lambda: qk.recurrence_matrix_rust(np.zeros(5), 2, 3, 1.0), "trajectory length 5 != T*d=6"),
     (lambda: qk.recurrence_matrix_rust(np.zeros(0), 2**63, 4, 1.0), "trajectory length 0 != T*d=36893488147419103232"),
     (lambda: qk.cross_recurrence_matrix_rust(np.zeros(6), np.zeros(5), 2, 3, 1.0), "trajectory lengths mismatch T*d=6"),
     (lambda: qk.rqa_rust(np.zeros(8, np.uint8), 3), "recurrence length 8 != T²=9"),
     (lambda: qk.rqa_rust(np.zeros(0, np.uint8), 2**64 - 1), "recurrence length 0 != T²=" + str((2**64 - 1) ** 2))],
)
def test_length_messages(call, message):
    with pytest.raises(ValueError) as e:
        call()
    assert str(e.value) == message


def test_unaddressable_and_unallocatable_matrices():
    with pytest.raises(PANIC, match="capacity overflow") as e:
        qk.recurrence_matrix_rust(np.zeros(0), 2**32, 0, 1.0)
    assert not isinstance(e.value, Exception)
    with pytest.raises(MemoryError):
        qk.cross_recurrence_matrix_rust(np.zeros(0), np.zeros(0), 2**31, 0, 1.0)


ALL_ONES_3 = np.ones(9, np.uint8)


@pytest.mark.parametrize(
    "flat, t, kwargs, expected",
    [
        (ALL_ONES_3, 3, {}, (1.0, 4 / 6, 2.0, 2, -0.0, 4 / 6, 2.0, 2)),
        (ALL_ONES_3, 3, {"exclude_main_diagonal": False}, (1.0, 7 / 9, 7 / 3, 3, 0.6365141682948128, 1.0, 3.0, 3)),
        (ALL_ONES_3 * 255, 3, {}, (1.0, 4 / 6, 2.0, 2, -0.0, 4 / 6, 2.0, 2)),
        (np.zeros(0, np.uint8), 0, {}, (0.0, 0.0, 0.0, 0, 0.0, 0.0, 0.0, 0)),
        (np.ones(1, np.uint8), 1, {}, (0.0, 0.0, 0.0, 0, 0.0, 0.0, 0.0, 0)),
        (np.full(1, 2, np.uint8), 1, {"exclude_main_diagonal": False}, (1.0, 0.0, 0.0, 0, 0.0, 0.0, 0.0, 0)),
        (np.zeros(16, np.uint8), 4, {}, (0.0, 0.0, 0.0, 0, 0.0, 0.0, 0.0, 0)),
    ],
)
def test_rqa_cases(flat, t, kwargs, expected):
    got = qk.rqa_rust(flat, t, **kwargs)
    assert got == expected and [type(v) for v in got] == [type(v) for v in expected]
    assert math.copysign(1.0, got[4]) == math.copysign(1.0, expected[4])


def test_rqa_refuses_bool_matrices():
    with pytest.raises(TypeError):
        qk.rqa_rust(np.ones(9, bool), 3)


@pytest.mark.parametrize("t", [2, 17, 40, 130])
@pytest.mark.parametrize("symmetric", [True, False])
@pytest.mark.parametrize("mins, exclude", [((2, 2), True), ((0, 1), False), ((1, 0), True), ((3, 5), False)])
def test_rqa_against_run_lengths(t, symmetric, mins, exclude):
    rng = np.random.default_rng(t)
    m = (rng.random((t, t)) < 0.6) * rng.integers(1, 256, (t, t))
    if symmetric:
        m = np.triu(m) + np.triu(m, 1).T
    flat = m.astype(np.uint8).ravel()
    before = flat.copy()
    assert qk.rqa_rust(flat, t, *mins, exclude) == ref.rqa(flat, t, *mins, exclude)
    assert np.array_equal(flat, before)


@pytest.mark.parametrize("exclude, mins", [(True, (2, 2)), (False, (0, 1))])
def test_rqa_across_many_bands_and_on_one_cpu(exclude, mins):
    # Lines long enough to cross the boundaries between the pool's bands of diagonals and of columns.
    t = 700
    rng = np.random.default_rng(5)
    m = rng.random((t, t)) < 0.9
    m[:, 250:260] = True
    m[300:320, :] = True
    flat = m.astype(np.uint8).ravel()
    assert qk.rqa_rust(flat, t, *mins, exclude) == ref.rqa(flat, t, *mins, exclude)
    same_on_one_cpu(
        "import numpy as np, qel_kernel as qk\n"
        f"t = 700; m = np.random.default_rng(5).random((t, t)) < 0.9; m[:, 250:260] = True; m[300:320, :] = True\n"
        f"out = np.array(qk.rqa_rust(m.astype(np.uint8).ravel(), t, {mins[0]}, {mins[1]}, {exclude}),"
        " dtype=float).tobytes()\n")
