"""Ridge EDMD with inputs: checks, exact recovery and NumPy's normal-equation solve."""
import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import koopman_edmd as ref
from support import same_on_one_cpu


def data(k, n, m, ns, seed=0):
    rng = np.random.default_rng(seed)
    x, u = rng.normal(size=(k, n)), rng.normal(size=(k, m))
    a, b, c = rng.normal(size=(n, n)), rng.normal(size=(n, m)), rng.normal(size=(ns, n))
    return x, u, x @ a.T + u @ b.T, x @ c.T, (a, b, c)


def solve(x, u, y, s, reg, k=None, n=None, m=None, ns=None):
    k, n = x.shape if k is None else (k, n)
    m = u.shape[1] if m is None else m
    ns = s.shape[1] if ns is None else ns
    return qk.koopman_edmd_solve_rust(x.ravel(), u.ravel(), y.ravel(), s.ravel(), k, n, m, ns, reg)


@pytest.mark.parametrize("change, msg", [
    (dict(k=0, n=0), "k, n_lift and n_state must be positive"),
    (dict(n=4, y=np.zeros(7)), "x_lift has an inconsistent length"),
    (dict(k=2**33, n=2**31), "x_lift has an inconsistent length"),
    (dict(y=np.zeros(29), u=np.zeros(1)), "y_lift has an inconsistent length"),
    (dict(u=np.zeros(11), s=np.zeros(1)), "inputs has an inconsistent length"),
    (dict(m=2**63, s=np.zeros(1)), "inputs has an inconsistent length"),
    (dict(s=np.zeros(13), reg=-1.0), "states has an inconsistent length"),
    (dict(reg=-1e-300), "regularisation must be finite and non-negative"),
    (dict(reg=math.inf), "regularisation must be finite and non-negative"),
    (dict(reg=math.nan), "regularisation must be finite and non-negative"),
    (dict(x=np.zeros((10, 3)), y=np.zeros((10, 3))), "singular system in Koopman EDMD solve"),
    (dict(u=np.ones((10, 2)), m=2), "singular system in Koopman EDMD solve"),
])
def test_messages_in_order(change, msg):
    x, u, y, s, _ = data(10, 3, 1, 2)
    args = dict(x=x, u=u, y=y, s=s, reg=0.0, k=10, n=3, m=1, ns=2)
    args.update(change)
    with pytest.raises(ValueError) as info:
        solve(args["x"], np.asarray(args["u"]), np.asarray(args["y"]), np.asarray(args["s"]), args["reg"],
              args["k"], args["n"], args["m"], args["ns"])
    assert str(info.value) == msg


@pytest.mark.parametrize("k, n, m, ns", [(30, 6, 0, 2), (9, 1, 1, 1), (200, 9, 5, 7)])
def test_exact_linear_data_is_recovered(k, n, m, ns):
    x, u, y, s, ops = data(k, n, m, ns, seed=k)
    for got, want in zip(solve(x, u, y, s, -0.0), ops):
        assert got.shape == (want.size,)
        np.testing.assert_allclose(got, want.ravel(), atol=1e-10)


@pytest.mark.parametrize("reg, k", [(0.0, 60), (0.5, 60), (0.1, 40000)])
def test_ridge_matches_numpy_solve(reg, k):
    rng = np.random.default_rng(5)
    x, u, y, s = (rng.normal(size=(k, c)) for c in (7, 3, 7, 4))
    for got, want in zip(solve(x, u, y, s, reg), ref.edmd(x, u, y, s, reg)):
        np.testing.assert_allclose(got, want, rtol=1e-9, atol=1e-12)


def test_zero_coordinate_gives_zero_columns_once_regularised():
    x, u, y, s, _ = data(30, 4, 2, 3)
    x[:, 2] = 0.0
    with pytest.raises(ValueError, match="singular system in Koopman EDMD solve"):
        solve(x, u, y, s, 0.0)
    a, b, c = solve(x, u, y, s, 0.1)
    assert not a.reshape(4, 4)[:, 2].any() and not c.reshape(3, 4)[:, 2].any()
    shrunk = solve(x, u, y, s, 1e4)
    assert all(np.abs(p).max() < np.abs(q).max() for p, q in zip(shrunk, (a, b, c)))


@pytest.mark.parametrize("k, n, m, ns", [(1300, 13, 6, 3), (700, 9, 0, 11), (520, 24, 8, 8)])
def test_one_cpu_gives_the_same_bits(k, n, m, ns):
    # Several sample blocks, and tiles cut at every matrix edge.
    same_on_one_cpu(f"""
import numpy as np, qel_kernel as qk
rng = np.random.default_rng({k})
x, u, y, s = (rng.normal(size={k} * c) for c in ({n}, {m}, {n}, {ns}))
out = b"".join(a.tobytes() for a in qk.koopman_edmd_solve_rust(x, u, y, s, {k}, {n}, {m}, {ns}, 1e-3))
""")
