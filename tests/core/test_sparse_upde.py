import numpy as np
import pytest

import qel_kernel as qk
from reference import sparse

U = np.uintp


def csr(row_ptr, cols, knm, alpha=None):
    knm = np.asarray(knm, dtype=float)
    alpha = np.zeros_like(knm) if alpha is None else np.asarray(alpha, dtype=float)
    return np.asarray(row_ptr, dtype=U), np.asarray(cols, dtype=U), knm, alpha


def call(s, phases, omegas, net, zeta=0.0, psi=0.0, n_steps=None):
    row_ptr, cols, knm, alpha = net
    if n_steps is None:
        return s.step(phases, omegas, row_ptr, cols, knm, zeta, psi, alpha)
    return s.run(phases, omegas, row_ptr, cols, knm, zeta, psi, alpha, n_steps)


GOOD = (np.array([0.1, 0.2, 0.3]), np.array([1.0, 0.5, -0.5]), csr([0, 2, 2, 3], [1, 2, 0], [0.4, 0.7, 0.9], [0.1, 0.0, 0.2]))
DIM = "invalid dimension: "
NAN = "integration diverged: sparse step inputs contain NaN/Inf"


def _with(phases=None, omegas=None, row_ptr=None, cols=None, knm=None, alpha=None, zeta=0.3, psi=0.4):
    p, o, (r, c, k, a) = GOOD
    pick = lambda v, d: d.copy() if v is None else np.asarray(v, dtype=d.dtype)  # noqa: E731
    return pick(phases, p), pick(omegas, o), (pick(row_ptr, r), pick(cols, c), pick(knm, k), pick(alpha, a)), zeta, psi


@pytest.mark.parametrize(
    "args, text",
    [
        (_with(phases=[0.1, 0.2], row_ptr=[0, 3]), DIM + "expected 3, got phases=2 omegas=3"),
        (_with(row_ptr=[0, 2, 3], knm=[1.0]), DIM + "expected row_ptr length 4 got 3"),
        (_with(alpha=[0.0] * 4), DIM + "sparse edge arrays must match: col_indices=3 knm_values=3 alpha_values=4"),
        (_with(row_ptr=[0, 2, 1, 2]), DIM + "row_ptr must start at 0 and end at col_indices length"),
        (_with(row_ptr=[0, 3, 2, 3], cols=[1, 2, 3]), DIM + "row_ptr must be monotonic non-decreasing"),
        (_with(cols=[1, 2, 2**64 - 1], phases=[np.nan] * 3), DIM + "col_indices contains out-of-range index"),
        (_with(alpha=[0.0, np.nan, 0.0]), NAN),
        (_with(zeta=0.0, psi=np.inf), NAN),
    ],
)
def test_step_checks_in_order_and_change_nothing(args, text):
    phases, omegas, net, zeta, psi = args
    s = qk.PySparseUPDEStepper(3, method="rk45")
    s.set_plasticity(0.5, 0.1)
    call(s, *GOOD[:2], tuple(a.copy() for a in GOOD[2]), 0.3, 0.4)
    before = (s.order_parameter(), s.last_dt, phases.copy(), net[2].copy())
    with pytest.raises(ValueError) as info:
        call(s, phases, omegas, net, zeta, psi)
    assert str(info.value) == text
    assert (s.order_parameter(), s.last_dt) == before[:2]
    assert np.array_equal(phases, before[2], equal_nan=True) and np.array_equal(net[2], before[3], equal_nan=True)


@pytest.mark.parametrize("name, index", [("row_ptr", 2), ("col_indices", 3)])
def test_signed_index_arrays_are_refused_at_conversion(name, index):
    p, o, net = GOOD
    args = [p, o, *net[:3], 0.0, 0.0, net[3]]
    args[index] = args[index].astype(np.int64)
    with pytest.raises(TypeError) as info:
        qk.PySparseUPDEStepper(3).step(*args)
    assert info.value.__notes__ == [f"while processing '{name}'"]


# --- against the dense stepper and per-edge sums -------------------------------

@pytest.mark.parametrize("method, substeps", [("euler", 1), ("euler", 3), ("rk4", 2), ("rk45", 3)])
@pytest.mark.parametrize("plastic", [False, True])
@pytest.mark.parametrize("lags", [True, False])
def test_full_csr_copy_matches_dense_stepper(method, substeps, plastic, lags):
    n = 9
    rng = np.random.default_rng(substeps + 7 * lags)
    knm = rng.uniform(-0.5, 1.5, n * n) * (rng.random(n * n) < 0.6)
    alpha = rng.uniform(-0.8, 0.8, n * n) if lags else np.zeros(n * n)
    phases, omegas = rng.uniform(-1.0, 7.0, n), rng.normal(0.0, 1.0, n)
    dense = qk.PyUPDEStepper(n, dt=0.05, method=method, n_substeps=substeps)
    sp = qk.PySparseUPDEStepper(n, dt=0.05, method=method, n_substeps=substeps)
    if plastic:
        dense.set_plasticity(0.3, 0.2, 1.5)
        sp.set_plasticity(0.3, 0.2, 1.5)
    # Every entry stored, zeros included, so that plasticity sees the same matrix.
    net = sparse.csr_from_dense(knm, alpha, n)
    knm_d = knm.copy()
    got_d, got_s = phases, phases
    for _ in range(4):
        got_d = dense.step(got_d, omegas, knm_d, 0.6, 1.1, alpha)
        got_s = call(sp, got_s, omegas, net, 0.6, 1.1)
    if lags:  # the same sums in the same order
        assert np.array_equal(got_s, got_d)
        assert np.array_equal(net[2], knm_d)
    else:  # row sums of K sin and K cos against per-edge products
        np.testing.assert_allclose(got_s, got_d, rtol=0, atol=1e-12)
        np.testing.assert_allclose(net[2], knm_d, rtol=0, atol=1e-12)
    assert (sp.last_dt != 0.05) if method == "rk45" else (sp.last_dt == 0.05)


def _long_and_short_rows():
    # A row far longer than any internal block, then many short ones (empty rows included).
    rng = np.random.default_rng(21)
    counts = np.concatenate([[2500], rng.integers(0, 13, 298), [1100]])
    cols = rng.integers(0, 300, counts.sum())
    return csr(np.concatenate([[0], np.cumsum(counts)]), cols, rng.normal(0, 0.3, cols.size), rng.uniform(-1, 1, cols.size))


NETS = {
    "no edges": csr([0, 0, 0, 0], [], []),
    "empty middle row": csr([0, 2, 2, 3], [1, 2, 1], [0.5, -0.3, 0.8], [0.2, 0.0, -0.1]),
    "self edges with lag": csr([0, 1, 2, 3], [0, 1, 2], [0.7, 0.4, 1.0], [0.5, -0.2, 0.0]),
    "repeated unsorted edges": csr([0, 3, 3, 5], [2, 1, 2, 0, 0], [0.3, 0.6, 0.9, 0.2, -0.4], [0.1, 0.0, -0.3, 0.2, 0.2]),
    "all lags zero": csr([0, 3, 3, 5], [2, 1, 2, 0, 0], [0.3, 0.6, 0.9, 0.2, -0.4]),
    "long and short rows": _long_and_short_rows(),
}


@pytest.mark.parametrize("name", NETS)
def test_edge_structures_against_per_edge_sums(name):
    net = NETS[name]
    n = len(net[0]) - 1
    rng = np.random.default_rng(n)
    phases, omegas = rng.uniform(0.0, 6.28, n), rng.normal(size=n)
    got = call(qk.PySparseUPDEStepper(n, dt=0.1, n_substeps=2), phases, omegas, net, 0.4, 2.0)
    want = sparse.euler(phases, omegas, *net, 0.4, 2.0, 0.1, 2)
    if net[3].any():  # with lags: the same sines and sums, edge by edge in storage order
        assert got.tolist() == want.tolist()
    else:  # without: row sums of K (sin cos - cos sin) from the phases' sines and cosines
        np.testing.assert_allclose(got, want, rtol=0, atol=1e-13)


# --- order parameter, plasticity ----------------------------------------------

def test_order_parameter_reads_the_last_evaluation():
    p, o, net = GOOD
    s = qk.PySparseUPDEStepper(3)
    assert s.order_parameter() == (0.0, 0.0)
    out = call(s, p, o, net)
    assert s.order_parameter() == qk.order_parameter(p)  # Euler: the phases handed in
    with pytest.raises(ValueError):
        call(s, out[:2], o, net)
    assert s.order_parameter() == qk.order_parameter(p)
    s45 = qk.PySparseUPDEStepper(3, method="rk45")
    out = call(s45, p, o, net)
    np.testing.assert_allclose(s45.order_parameter(), qk.order_parameter(out), atol=1e-15)


def test_plasticity_acts_once_per_step_and_can_be_switched_off():
    p, o, _ = GOOD
    net = csr([0, 2, 3, 3], [0, 1, 0], [0.5, 0.5, -0.2])
    s = qk.PySparseUPDEStepper(3, n_substeps=4)
    s.set_plasticity(0.0, 0.0)
    call(s, p, o, net)
    assert net[2].tolist() == [0.0, 0.5, 0.0]  # self edge cleared, negative floored, none created
    s.set_plasticity(0.2, 1.0, 3.0)
    s.disable_plasticity()
    s.set_plasticity(0.2, 1.0)  # modulator back to its default 1.0
    k = net[2].copy()
    call(s, p, o, net)
    # Once, with the configured dt, at the phases where the last substep began.
    theta = sparse.euler(p, o, *csr([0, 2, 3, 3], [0, 1, 0], k), 0.0, 0.0, 0.0075, 3)
    hebb = 0.2 * np.cos(theta[0] - theta[1]) * 0.01
    np.testing.assert_allclose(net[2], [0.0, k[1] * np.exp(-0.01) + hebb, max(hebb, 0.0)], rtol=0, atol=1e-12)
    s.disable_plasticity()
    k = net[2].copy()
    call(s, p, o, net)
    assert np.array_equal(net[2], k)
    # A non-finite modulator is stored unchecked; the update then leaves the couplings alone.
    s.set_plasticity(0.1, 0.0, float("nan"))
    call(s, p, o, net)
    assert np.array_equal(net[2], k)
