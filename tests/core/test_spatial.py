import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import coupling as ref
from support import bits as u64

NAN, INF = float("nan"), float("inf")
NAMES = ["knm", "positions", "n", "dim", "k_base", "code", "p", "length", "eps"]
NONFINITE = "integration diverged: spatial modulator inputs contain NaN/Inf"
GOOD = ([0.0, 1.0, 1.0, 0.0], [0.0, 1.0], 2, 1, 1.0, 0, 1.0, 1.0, 1.0)


def call(knm, positions, n, dim, k_base=1.0, code=0, p=1.0, length=1.0, eps=1.0):
    return qk.spatial_modulate_rust(knm, positions, n, dim, k_base, code, p, length, eps)


@pytest.mark.parametrize("code", [0, 1, 2, 3])
def test_matches_reference_bitwise(code):
    n, dim = 7, 3
    rng = np.random.default_rng(code)
    k = rng.normal(size=(n, n))
    np.fill_diagonal(k, 0.0)
    pos = rng.normal(scale=2.0, size=n * dim)
    pos[dim:2 * dim] = pos[:dim]  # two coinciding points
    knm, pos = k.ravel().tolist(), pos.tolist()
    out = call(knm, pos, n, dim, 1.7, code, 1.3, 0.8, 0.05)
    assert u64(out) == u64(ref.spatial_modulate(knm, pos, n, dim, 1.7, code, 1.3, 0.8, 0.05))


@pytest.mark.parametrize(
    "code, positions, w",
    [(0, [0.0, 0.0], 2.0), (1, [0.0, 3.0], math.exp(-1.0) * 2.0), (2, [0.0, 3.0], 0.5 * 2.0),
     (3, [1.0, 1.0], 2.0 / math.sqrt(0.01))],
)
def test_worked_weights(code, positions, w):
    # L = 3, p = 1, eps = 0.01, k_base = 2.
    assert call([0.0, 1.0, -1.0, 0.0], positions, 2, 1, 2.0, code, 1.0, 3.0, 0.01) == [0.0, w, -w, 0.0]


def test_edge_inputs_accepted():
    assert call([1e-13, 1, 1, -1e-13], [0.0, 1.0], 2, 1) == [0.0, 0.5, 0.5, 0.0]
    assert call([0.0], [123.0, 4.0], 1, 2, 5.0, 3) == [0.0]
    # -0.0 k_base and subnormal positive parameters pass.
    assert call([0.0, 1.0, 1.0, 0.0], [0.0, 1.0], 2, 1, -0.0, 1, 5e-324, 5e-324, 5e-324) == [0.0, 0.0, 0.0, 0.0]
    # Finite weight times a huge coupling may be infinite without an error.
    assert call([0.0, 1e308, 1.0, 0.0], [0.0, 0.0], 2, 1, 1e10, 3, 1.0, 1.0, 1.0)[1] == INF


def with_(**kw):
    args = dict(zip(NAMES, GOOD), **kw)
    return tuple(args[k] for k in NAMES)


@pytest.mark.parametrize(
    "args, msg",
    [
        (with_(code=4, n=0, eps=0.0), "invalid config: unknown spatial decay form code 4"),
        (with_(dim=0, knm=[NAN]), "invalid dimension: n and dim must be positive"),
        (with_(n=2**32, knm=[]), "invalid dimension: n*n overflows usize"),
        (with_(n=2**31, dim=2**33, knm=[]), "invalid dimension: n*dim overflows usize"),
        (with_(knm=[0.0] * 3, positions=[NAN]),
         "invalid dimension: expected knm=4, positions=2; got knm=3, positions=1"),
        (with_(knm=[0.0, INF, 1.0, 5.0], k_base=-1.0), NONFINITE),
        (with_(positions=[0.0, NAN], knm=[1.0, 1.0, 1.0, 0.0]), NONFINITE),
        (with_(knm=[0.0, 1.0, 1.0, 2e-12], k_base=NAN), "invalid config: knm diagonal must be zero"),
        (with_(k_base=-1e-300, p=0.0), "invalid config: k_base must be finite and non-negative"),
        (with_(p=-0.0, length=0.0), "invalid config: decay_exponent must be finite and positive"),
        (with_(length=NAN, eps=0.0), "invalid config: decay_length_scale must be finite and positive"),
        (with_(eps=0.0), "invalid config: epsilon must be finite and positive"),
        (with_(code=3, positions=[1.0, 1.0], k_base=1e300, eps=1e-320),
         "integration diverged: spatial modulation weight diverged"),
    ],
)
def test_check_order(args, msg):
    with pytest.raises(ValueError) as e:
        qk.spatial_modulate_rust(*args)
    assert str(e.value) == msg
