import numpy as np
import pytest

import qel_kernel as qk
from reference import sparse

U = np.uintp


def csr(row_ptr, cols, knm, alpha=None):
    knm = np.asarray(knm, dtype=float)
    alpha = np.zeros_like(knm) if alpha is None else np.asarray(alpha, dtype=float)
    return np.asarray(row_ptr, dtype=U), np.asarray(cols, dtype=U), knm, alpha


def random_network(n, seed, lags=True, density=0.6):
    rng = np.random.default_rng(seed)
    knm = rng.uniform(-0.5, 1.5, n * n) * (rng.random(n * n) < density)
    alpha = rng.uniform(-0.8, 0.8, n * n) if lags else np.zeros(n * n)
    return rng.uniform(-1.0, 7.0, n), rng.normal(0.0, 1.0, n), knm, alpha


def call(s, phases, omegas, net, zeta=0.0, psi=0.0, n_steps=None):
    row_ptr, cols, knm, alpha = net
    if n_steps is None:
        return s.step(phases, omegas, row_ptr, cols, knm, zeta, psi, alpha)
    return s.run(phases, omegas, row_ptr, cols, knm, zeta, psi, alpha, n_steps)


# --- construction and settings ---------------------------------------------

@pytest.mark.parametrize(
    "args, kwargs, text",
    [
        ((0,), {"method": "RK4"}, "unknown method: RK4"),
        ((3,), {"method": "Euler"}, "unknown method: Euler"),
        ((0,), {}, "invalid dimension: n must be > 0"),
        ((3,), {"method": "rk45", "atol": 1e-2}, "invalid config: for RK45, rtol must be >= atol"),
    ],
)
def test_constructor_refusals(args, kwargs, text):
    with pytest.raises(ValueError) as info:
        qk.PySparseUPDEStepper(*args, **kwargs)
    assert str(info.value) == text


@pytest.mark.parametrize("n", [2**40, 2**61])
def test_unallocatable_scratch_is_a_memory_error(n):
    with pytest.raises(MemoryError):
        qk.PySparseUPDEStepper(n)


@pytest.mark.parametrize(
    "lr, decay, modulator, ok",
    [(-0.0, 0.0, 1.0, True), (0.1, -1e-300, 1.0, False), (0.1, 0.0, float("nan"), True), (float("inf"), 0.0, 1.0, False)],
)
def test_set_plasticity_checks_rates_only(lr, decay, modulator, ok):
    s = qk.PySparseUPDEStepper(2)
    if ok:
        assert s.set_plasticity(lr, decay, modulator) is None
    else:
        with pytest.raises(ValueError, match=r"^invalid config: lr and decay must be finite and non-negative$"):
            s.set_plasticity(lr, decay, modulator)


# --- the check table ----------------------------------------------------------

GOOD = (np.array([0.1, 0.2, 0.3]), np.array([1.0, 0.5, -0.5]), csr([0, 2, 2, 3], [1, 2, 0], [0.4, 0.7, 0.9], [0.1, 0.0, 0.2]))


def _with(phases=None, omegas=None, row_ptr=None, cols=None, knm=None, alpha=None, zeta=0.3, psi=0.4):
    p, o, (r, c, k, a) = GOOD
    pick = lambda v, d: d.copy() if v is None else np.asarray(v, dtype=d.dtype)  # noqa: E731
    return pick(phases, p), pick(omegas, o), (pick(row_ptr, r), pick(cols, c), pick(knm, k), pick(alpha, a)), zeta, psi


DIM = "invalid dimension: "
NAN = "integration diverged: sparse step inputs contain NaN/Inf"


@pytest.mark.parametrize(
    "args, text",
    [
        (_with(phases=[0.1, 0.2], row_ptr=[0, 3]), DIM + "expected 3, got phases=2 omegas=3"),
        (_with(omegas=[1.0] * 4), DIM + "expected 3, got phases=3 omegas=4"),
        (_with(row_ptr=[0, 2, 3], knm=[1.0]), DIM + "expected row_ptr length 4 got 3"),
        (_with(knm=[0.4, 0.7]), DIM + "sparse edge arrays must match: col_indices=3 knm_values=2 alpha_values=3"),
        (_with(alpha=[0.0] * 4), DIM + "sparse edge arrays must match: col_indices=3 knm_values=3 alpha_values=4"),
        (_with(row_ptr=[0, 2, 1, 2]), DIM + "row_ptr must start at 0 and end at col_indices length"),
        (_with(row_ptr=[1, 2, 2, 3]), DIM + "row_ptr must start at 0 and end at col_indices length"),
        (_with(row_ptr=[0, 3, 2, 3], cols=[1, 2, 3]), DIM + "row_ptr must be monotonic non-decreasing"),
        (_with(cols=[1, 3, 0]), DIM + "col_indices contains out-of-range index"),
        (_with(cols=[1, 2, 2**64 - 1], phases=[np.nan] * 3), DIM + "col_indices contains out-of-range index"),
        (_with(alpha=[0.0, np.nan, 0.0]), NAN),
        (_with(knm=[0.0, 0.0, -np.inf]), NAN),
        (_with(zeta=np.nan), NAN),
        (_with(zeta=0.0, psi=np.inf), NAN),
    ],
)
def test_step_checks_in_order_and_change_nothing(args, text):
    phases, omegas, net, zeta, psi = args
    s = qk.PySparseUPDEStepper(3, method="rk45")
    s.set_plasticity(0.5, 0.1)
    good_p, good_o, good_net = GOOD
    call(s, good_p, good_o, tuple(a.copy() for a in good_net), 0.3, 0.4)
    before = (s.order_parameter(), s.last_dt, phases.copy(), net[2].copy())
    with pytest.raises(ValueError) as info:
        call(s, phases, omegas, net, zeta, psi)
    assert str(info.value) == text
    after = (s.order_parameter(), s.last_dt, phases, net[2])
    assert before[:2] == after[:2]
    assert np.array_equal(before[2], after[2], equal_nan=True) and np.array_equal(before[3], after[3], equal_nan=True)


@pytest.mark.parametrize("name, index", [("row_ptr", 2), ("col_indices", 3)])
def test_signed_index_arrays_are_refused_at_conversion(name, index):
    s = qk.PySparseUPDEStepper(3)
    p, o, net = GOOD
    args = [p, o, *net[:3], 0.0, 0.0, net[3]]
    args[index] = args[index].astype(np.int64)
    with pytest.raises(TypeError) as info:
        s.step(*args)
    assert info.value.__notes__ == [f"while processing '{name}'"]


def test_array_layout_and_write_access_are_refused_before_any_write():
    s = qk.PySparseUPDEStepper(3)
    s.set_plasticity(1.0, 0.5)
    p, o, (r, c, k, a) = GOOD
    strided = np.zeros(6)[::2]
    with pytest.raises(ValueError, match="^phases not contiguous$"):
        s.step(strided, o, r, c, k, 0.0, 0.0, a)
    with pytest.raises(ValueError, match="^The given array is not contiguous or is misaligned.$"):
        s.step(p, o, np.zeros(8, dtype=U)[::2], c, k, 0.0, 0.0, a)
    readonly = k.copy()
    readonly.flags.writeable = False
    shared = np.concatenate([k, [0.0]])
    for knm, alpha, phases in [(readonly, a, p), (k, k, p), (shared[:3], shared[1:4], p), (k, a, k)]:
        keep = knm.copy()
        with pytest.raises(ValueError):
            s.step(phases, o, r, c, knm, 0.0, 0.0, alpha)
        assert np.array_equal(knm, keep)
    assert s.order_parameter() == (0.0, 0.0)


def test_run_zero_steps_skips_engine_checks_but_not_layout():
    s = qk.PySparseUPDEStepper(3)
    p, o, (r, c, k, a) = GOOD
    odd = np.array([9.0, np.nan])
    out = s.run(odd, o, r[:2], c, k[:1], 0.0, 0.0, a, 0)
    assert np.array_equal(out, odd, equal_nan=True)
    with pytest.raises(ValueError, match="^The given array is not contiguous or is misaligned.$"):
        s.run(p, o[::-1], r, c, k, 0.0, 0.0, a, 0)


# --- against the dense stepper -----------------------------------------------

@pytest.mark.parametrize("method, substeps", [("euler", 1), ("euler", 3), ("rk4", 2), ("rk45", 1)])
@pytest.mark.parametrize("plastic", [False, True])
@pytest.mark.parametrize("lags", [True, False])
def test_full_csr_copy_matches_dense_stepper(method, substeps, plastic, lags):
    n = 9
    phases, omegas, knm, alpha = random_network(n, seed=substeps + 7 * lags, lags=lags)
    dense = qk.PyUPDEStepper(n, dt=0.05, method=method, n_substeps=substeps)
    sp = qk.PySparseUPDEStepper(n, dt=0.05, method=method, n_substeps=substeps)
    if plastic:
        dense.set_plasticity(0.3, 0.2, 1.5)
        sp.set_plasticity(0.3, 0.2, 1.5)
    # Every entry stored, zeros included, so that plasticity sees the same matrix.
    net = sparse.csr_from_dense(knm, alpha, n, keep_zeros=True)
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
    if method == "rk45":
        assert sp.last_dt != 0.05
    else:
        assert sp.last_dt == 0.05


@pytest.mark.parametrize("n", [12, 300])
def test_sparse_pattern_with_lags_matches_dense_bit_for_bit(n):
    phases, omegas, knm, alpha = random_network(n, seed=n, density=0.1)
    alpha[knm == 0.0] = 0.0
    net = sparse.csr_from_dense(knm, alpha, n, keep_zeros=False)
    assert len(net[1]) < n * n
    got_d = qk.PyUPDEStepper(n, method="rk4").run(phases, omegas, knm.copy(), 0.2, 0.3, alpha, 3)
    got_s = call(qk.PySparseUPDEStepper(n, method="rk4"), phases, omegas, net, 0.2, 0.3, n_steps=3)
    assert np.array_equal(got_s, got_d)


# --- edge structure ------------------------------------------------------------

NETS = {
    "no edges": csr([0, 0, 0, 0], [], []),
    "empty middle row": csr([0, 2, 2, 3], [1, 2, 1], [0.5, -0.3, 0.8], [0.2, 0.0, -0.1]),
    "self edges with lag": csr([0, 1, 2, 3], [0, 1, 2], [0.7, 0.4, 1.0], [0.5, -0.2, 0.0]),
    "repeated unsorted edges": csr([0, 3, 3, 5], [2, 1, 2, 0, 0], [0.3, 0.6, 0.9, 0.2, -0.4], [0.1, 0.0, -0.3, 0.2, 0.2]),
    "all lags zero": csr([0, 3, 3, 5], [2, 1, 2, 0, 0], [0.3, 0.6, 0.9, 0.2, -0.4]),
}


@pytest.mark.parametrize("name", NETS)
@pytest.mark.parametrize("method", ["euler", "rk4"])
def test_edge_structures_against_numpy_reference(name, method):
    net = NETS[name]
    phases, omegas = np.array([0.3, 2.0, 4.5]), np.array([1.0, -0.5, 0.25])
    s = qk.PySparseUPDEStepper(3, dt=0.1, method=method, n_substeps=2)
    got = call(s, phases, omegas, tuple(a.copy() for a in net), 0.4, 2.0)
    want = sparse.step(method, phases, omegas, *net, 0.4, 2.0, 0.1, 2)
    np.testing.assert_allclose(got, want, rtol=0, atol=1e-13)


def test_self_edge_without_lags_contributes_exactly_nothing():
    phases, omegas = np.array([0.3, 2.0, 4.5]), np.array([1.0, -0.5, 0.25])
    none = call(qk.PySparseUPDEStepper(3), phases, omegas, NETS["no edges"], 0.4, 2.0)
    selfs = call(qk.PySparseUPDEStepper(3), phases, omegas, csr([0, 1, 2, 3], [0, 1, 2], [5.0, 7.0, 9.0]), 0.4, 2.0)
    assert np.array_equal(none, selfs)
    np.testing.assert_allclose(none, sparse.wrap(phases + 0.01 * (omegas + 0.4 * np.sin(2.0 - phases))), atol=1e-15)


def test_negative_zero_lags_take_the_no_lag_form():
    phases, omegas = np.array([0.3, 2.0, 4.5]), np.zeros(3)
    r, c, k, _ = NETS["all lags zero"]
    plus = call(qk.PySparseUPDEStepper(3), phases, omegas, (r, c, k.copy(), np.zeros(5)))
    minus = call(qk.PySparseUPDEStepper(3), phases, omegas, (r, c, k.copy(), np.full(5, -0.0)))
    assert np.array_equal(plus, minus)


def test_zero_drive_ignores_psi():
    p, o, net = GOOD
    a = call(qk.PySparseUPDEStepper(3, method="rk4"), p, o, net, 0.0, 0.0)
    b = call(qk.PySparseUPDEStepper(3, method="rk4"), p, o, net, -0.0, 5.0)
    assert np.array_equal(a, b)


def test_rk45_ignores_substeps():
    p, o, net = GOOD
    a = call(qk.PySparseUPDEStepper(3, method="rk45"), p, o, net, 0.3, 1.0, n_steps=3)
    b = call(qk.PySparseUPDEStepper(3, method="rk45", n_substeps=5), p, o, net, 0.3, 1.0, n_steps=3)
    assert np.array_equal(a, b)


# --- order parameter and plasticity -------------------------------------------

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


def test_plasticity_acts_once_per_successful_step_and_can_be_switched_off():
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
    theta = sparse.step("euler", p, o, *csr([0, 2, 3, 3], [0, 1, 0], k), 0.0, 0.0, 0.0075, 3)
    hebb = 0.2 * np.cos(theta[0] - theta[1]) * 0.01
    np.testing.assert_allclose(net[2], [0.0, k[1] * np.exp(-0.01) + hebb, max(hebb, 0.0)], rtol=0, atol=1e-12)
    s.disable_plasticity()
    k = net[2].copy()
    call(s, p, o, net)
    assert np.array_equal(net[2], k)


def test_non_finite_modulator_leaves_couplings_alone_and_steps_go_on():
    p, o, _ = GOOD
    net = csr([0, 2, 3, 3], [0, 1, 0], [0.5, 0.5, -0.2])
    s = qk.PySparseUPDEStepper(3)
    s.set_plasticity(0.1, 0.0, float("nan"))
    call(s, p, o, net)
    assert net[2].tolist() == [0.5, 0.5, -0.2]


def test_failed_run_keeps_the_plastic_changes_of_earlier_steps():
    net = csr([0, 1, 2], [1, 0], [1.0, 1.0])
    s = qk.PySparseUPDEStepper(2)
    s.set_plasticity(0.5, 0.0)
    with pytest.raises(ValueError, match=NAN):
        call(s, np.full(2, 1.79e308), np.full(2, 1e308), net, n_steps=3)
    # First step: in phase, each coupling grows by lr * dt; the phases overflow
    # to infinity and the second step refuses them.
    np.testing.assert_allclose(net[2], [1.005, 1.005], rtol=0, atol=1e-15)


@pytest.mark.parametrize(
    "reenter, text",
    [(lambda s: s.order_parameter(), "Already mutably borrowed"), (lambda s: s.last_dt, "Already mutably borrowed"),
     (lambda s: s.disable_plasticity(), "Already borrowed")],
)
def test_calls_into_a_stepper_that_is_stepping_are_refused(reenter, text):
    s = qk.PySparseUPDEStepper(3)
    seen = []

    class Zeta:
        def __float__(self):
            try:
                reenter(s)
            except RuntimeError as e:
                seen.append(str(e))
            return 0.0

    p, o, net = GOOD
    call(s, p, o, net, Zeta())
    assert seen == [text]


def test_long_and_short_rows_sum_each_edge_in_storage_order():
    # A row far longer than any internal block, then many short ones (empty
    # rows included): one Euler step must equal the plain per-edge sum.
    import math

    rng = np.random.default_rng(21)
    n = 300
    counts = np.concatenate([[2500], rng.integers(0, 13, n - 2), [1100]])
    row_ptr = np.concatenate([[0], np.cumsum(counts)]).astype(U)
    cols = rng.integers(0, n, int(row_ptr[-1])).astype(U)
    knm, alpha = rng.normal(0, 0.3, cols.size), rng.uniform(-1, 1, cols.size)
    phases, omegas = rng.uniform(0, 6.28, n), rng.normal(size=n)
    got = call(qk.PySparseUPDEStepper(n, dt=0.05), phases, omegas, (row_ptr, cols, knm, alpha), 0.7, 2.5)
    za, zb = 0.7 * math.sin(2.5), 0.7 * math.cos(2.5)
    want = []
    for i in range(n):
        s = 0.0
        for e in range(int(row_ptr[i]), int(row_ptr[i + 1])):
            s += math.sin((phases[cols[e]] - phases[i]) - alpha[e]) * knm[e]
        d = (math.cos(phases[i]) * za - math.sin(phases[i]) * zb) + (s + omegas[i])
        want.append(phases[i] + d * 0.05)
    assert got.tolist() == sparse.wrap(np.array(want)).tolist()
