import math

import numpy as np
import pytest

import qel_kernel as qk
from reference import coupling as ref


def u64(xs):
    return np.asarray(xs, dtype=np.float64).view(np.uint64).tolist()


def call(knm, positions, n, dim, k_base=1.0, code=0, p=1.0, length=1.0, eps=1.0):
    return qk.spatial_modulate_rust(knm, positions, n, dim, k_base, code, p, length, eps)


def random_case(seed, n, dim):
    rng = np.random.default_rng(seed)
    k = rng.normal(size=(n, n))
    np.fill_diagonal(k, 0.0)
    if n > 1:
        k[0, 1] = 0.0
    pos = rng.normal(scale=2.0, size=n * dim)
    if n > 1:
        pos[dim:2 * dim] = pos[:dim]  # two coinciding points
    return k.ravel().tolist(), pos.tolist()


@pytest.mark.parametrize("code", [0, 1, 2, 3])
@pytest.mark.parametrize("n, dim", [(1, 1), (2, 3), (7, 2), (12, 1)])
def test_matches_reference_bitwise(code, n, dim):
    knm, pos = random_case(code * 31 + n, n, dim)
    args = (1.7, code, 1.3, 0.8, 0.05)
    out = qk.spatial_modulate_rust(knm, pos, n, dim, *args)
    expected = ref.spatial_modulate(knm, pos, n, dim, 1.7, code, 1.3, 0.8, 0.05)
    assert u64(out) == u64(expected)
    # Sparsity kept, diagonal zero, asymmetric couplings stay asymmetric.
    o = np.array(out).reshape(n, n)
    assert (np.diag(o) == 0).all()
    assert ((np.array(knm).reshape(n, n) == 0) <= (o == 0)).all()


@pytest.mark.parametrize(
    "code, positions, expected_w",
    [
        (0, [0.0, 0.0], 2.0),
        (1, [0.0, 3.0], math.exp(-1.0) * 2.0),
        (2, [0.0, 3.0], 0.5 * 2.0),
        (3, [1.0, 1.0], 2.0 / math.sqrt(0.01)),
    ],
)
def test_worked_weights(code, positions, expected_w):
    # L = 3, p = 1, eps = 0.01, k_base = 2.
    out = call([0.0, 1.0, -1.0, 0.0], positions, 2, 1, 2.0, code, 1.0, 3.0, 0.01)
    assert out == [0.0, expected_w, -expected_w, 0.0]


def test_diagonal_tolerance_and_single_oscillator():
    assert call([1e-13, 1, 1, -1e-13], [0.0, 1.0], 2, 1) == [0.0, 0.5, 0.5, 0.0]
    assert call([0.0], [123.0, 4.0], 1, 2, 5.0, 3) == [0.0]
    out = call([0.0, -2.0, 3.0, 0.0], [0.0, 1.0], 2, 1, 0.0)
    assert u64(out) == u64([0.0, -0.0, 0.0, 0.0])


NAN = float("nan")
INF = float("inf")
GOOD = ([0.0, 1.0, 1.0, 0.0], [0.0, 1.0], 2, 1, 1.0, 0, 1.0, 1.0, 1.0)


def with_(**kw):
    names = ["knm", "positions", "n", "dim", "k_base", "code", "p", "length", "eps"]
    args = dict(zip(names, GOOD))
    args.update(kw)
    return tuple(args[k] for k in names)


@pytest.mark.parametrize(
    "args, msg",
    [
        (with_(code=4, n=0, eps=0.0), "invalid config: unknown spatial decay form code 4"),
        (with_(code=-1, n=0), "invalid config: unknown spatial decay form code -1"),
        (with_(n=0, knm=[NAN]), "invalid dimension: n and dim must be positive"),
        (with_(dim=0), "invalid dimension: n and dim must be positive"),
        (with_(n=2**32, knm=[]), "invalid dimension: n*n overflows usize"),
        (with_(n=2**31, dim=2**33, knm=[]), "invalid dimension: n*dim overflows usize"),
        (with_(knm=[0.0] * 3, positions=[NAN]),
         "invalid dimension: expected knm=4, positions=2; got knm=3, positions=1"),
        (with_(positions=[0.0, 1.0, 2.0]), "invalid dimension: expected knm=4, positions=2; got knm=4, positions=3"),
        (with_(knm=[0.0, INF, 1.0, 5.0], k_base=-1.0),
         "integration diverged: spatial modulator inputs contain NaN/Inf"),
        (with_(positions=[0.0, NAN], knm=[1.0, 1.0, 1.0, 0.0]),
         "integration diverged: spatial modulator inputs contain NaN/Inf"),
        (with_(knm=[0.0, 1.0, 1.0, 2e-12], k_base=NAN), "invalid config: knm diagonal must be zero"),
        (with_(k_base=-1e-300, p=0.0), "invalid config: k_base must be finite and non-negative"),
        (with_(k_base=INF), "invalid config: k_base must be finite and non-negative"),
        (with_(p=-0.0, length=0.0), "invalid config: decay_exponent must be finite and positive"),
        (with_(p=INF), "invalid config: decay_exponent must be finite and positive"),
        (with_(length=NAN, eps=0.0), "invalid config: decay_length_scale must be finite and positive"),
        (with_(eps=0.0), "invalid config: epsilon must be finite and positive"),
        (with_(eps=-1.0, code=3), "invalid config: epsilon must be finite and positive"),
        (with_(code=3, positions=[1.0, 1.0], k_base=1e300, eps=1e-320),
         "integration diverged: spatial modulation weight diverged"),
    ],
)
def test_check_order(args, msg):
    with pytest.raises(ValueError) as e:
        qk.spatial_modulate_rust(*args)
    assert str(e.value) == msg


def test_edge_parameters_accepted():
    # -0.0 k_base and subnormal positive parameters pass.
    assert call([0.0, 1.0, 1.0, 0.0], [0.0, 1.0], 2, 1, -0.0, 1, 5e-324, 5e-324, 5e-324) == [0.0, 0.0, 0.0, 0.0]
    # Finite weight times a huge coupling may be infinite without an error.
    out = call([0.0, 1e308, 1.0, 0.0], [0.0, 0.0], 2, 1, 1e10, 3, 1.0, 1.0, 1.0)
    assert out[1] == INF


def test_conversions():
    with pytest.raises(OverflowError) as e:
        call(*with_()[:4], 1.0, 2**31)
    assert "decay_form_code" in "".join(getattr(e.value, "__notes__", []))
    with pytest.raises(TypeError):
        call("abcd", [0.0, 1.0], 2, 1)
    with pytest.raises(OverflowError):
        call([0.0] * 4, [0.0, 1.0], -2, 1)
    assert qk.spatial_modulate_rust.__text_signature__ == (
        "(knm, positions, n, dim, k_base, decay_form_code, decay_exponent, decay_length_scale, epsilon)")
    out = call(np.array([0.0, 1.0, 1.0, 0.0]), (0.0, 1.0), 2, 1)
    assert out == [0.0, 0.5, 0.5, 0.0] and type(out) is list


@pytest.mark.parametrize(
    "make",
    [
        lambda v: np.array(v),
        lambda v: np.repeat(np.array(v), 2)[::2],          # strided view
        lambda v: np.array(v)[::-1][::-1],                 # negative strides twice
        lambda v: np.array(v, dtype=np.float32),           # converted item by item
        lambda v: np.array(v, dtype=">f8"),                # byte-swapped
        lambda v: np.array(v).view(np.matrix)[0].A1,       # plain array again
    ],
)
def test_float_sequence_from_arrays(make):
    knm, pos = [0.0, 0.5, 0.25, 0.0], [0.0, 1.0, 0.5, 2.0]
    expected = call(knm, pos, 2, 2, 1.0, 1)
    assert call(make(knm), make(pos), 2, 2, 1.0, 1) == expected
