"""Phase transfer entropy, pairwise and as a network matrix."""
import math
import os
import subprocess
import sys

import numpy as np
import pytest

import qel_kernel as qk
from reference import transfer_entropy as ref

TWO_PI = 6.283185307179586


def driven_pair(n=20000, n_bins=8, seed=0):
    """x uniform over the bin centres, y(t+1) = x(t)."""
    rng = np.random.default_rng(seed)
    x = (rng.integers(0, n_bins, n) + 0.5) * (TWO_PI / n_bins)
    return x, np.r_[x[-1], x[:-1]]


def test_series_to_itself_is_exactly_zero():
    x = np.random.default_rng(1).uniform(-50.0, 50.0, 3000)
    assert qk.phase_transfer_entropy_rust(x, x, 7) == 0.0


def test_direction_and_whole_turns():
    x, y = driven_pair()
    forward = qk.phase_transfer_entropy_rust(x, y, 8)
    assert abs(forward - math.log(8)) < 0.02 and qk.phase_transfer_entropy_rust(y, x, 8) < 0.02
    turns = np.random.default_rng(2).integers(-5, 6, x.size) * TWO_PI
    assert qk.phase_transfer_entropy_rust(x + turns, y - turns, 8) == forward


@pytest.mark.parametrize("n_bins, length", [(0, 100), (1, 100), (8, 2), (8, 0)])
def test_degenerate_inputs_give_zero(n_bins, length):
    x, y = driven_pair(max(length, 3))
    assert qk.phase_transfer_entropy_rust(x[:length], y[:length], n_bins) == 0.0


@pytest.mark.parametrize(
    "n_bins, n_src, n_tgt",
    [(3, 500, 500), (8, 400, 395), (16, 60, 80), (4096, 300, 300), (2**40, 200, 200), (2**64 - 1, 50, 50),
     (5, 3, 3)],
)
def test_bit_for_bit_against_reference(n_bins, n_src, n_tgt):
    rng = np.random.default_rng(n_src)
    x = rng.uniform(-30.0, 30.0, n_src)
    y = np.sin(np.r_[0.0, x[:-1]])[:n_tgt] * 3.0 + rng.normal(0.0, 0.5, n_tgt) if n_tgt <= n_src else rng.normal(size=n_tgt)
    x[::17] = math.nan
    got = qk.phase_transfer_entropy_rust(x, y, n_bins)
    assert got == ref.transfer_entropy(x.tolist(), y.tolist(), n_bins)
    if n_bins <= 16:
        assert abs(got - ref.transfer_entropy_numpy(x, y, n_bins)) < 1e-12


@pytest.mark.parametrize("n_osc, n_time, n_bins", [(5, 700, 6), (3, 50, 300)])
def test_matrix_entries(n_osc, n_time, n_bins):
    rng = np.random.default_rng(n_osc)
    x = rng.uniform(0.0, TWO_PI, (n_osc, n_time))
    x[1, 1:] = x[0, :-1] + rng.normal(0.0, 0.1, n_time - 1)  # 0 drives 1
    got = qk.transfer_entropy_matrix_rust(x.ravel(), n_osc, n_time, n_bins)
    assert got.shape == (n_osc * n_osc,) and np.all(got[:: n_osc + 1] == 0.0)
    pairs = [qk.phase_transfer_entropy_rust(x[i], x[j], n_bins) if i != j else 0.0
             for i in range(n_osc) for j in range(n_osc)]
    assert got.tolist() == pairs
    if n_bins < 20:
        assert got[1] > 10 * got[n_osc]
        assert np.allclose(got, ref.transfer_entropy_matrix_numpy(x.ravel(), n_osc, n_time, n_bins), atol=1e-12)


@pytest.mark.parametrize(
    "args, expected",
    [((np.zeros(0), 0, 5, 8), []), ((np.zeros(6), 3, 2, 8), [0.0] * 9), ((np.ones(8), 2, 4, 0), [0.0] * 4)],
)
def test_matrix_degenerate(args, expected):
    assert qk.transfer_entropy_matrix_rust(*args).tolist() == expected


def test_matrix_errors():
    with pytest.raises(ValueError) as e:
        qk.transfer_entropy_matrix_rust(np.zeros(10), 3, 4, 8)
    assert str(e.value) == "phase_series length 10 != N*T=12"
    with pytest.raises(BaseException, match="capacity overflow") as e:
        qk.transfer_entropy_matrix_rust(np.zeros(0), 2**31, 0, 8)
    assert not isinstance(e.value, Exception)


def matrix_bytes(n_osc):
    x = np.random.default_rng(9).uniform(-10.0, 10.0, n_osc * 400)
    return qk.transfer_entropy_matrix_rust(x, n_osc, 400, 12).tobytes()


PINNED = ("import os, sys; os.sched_setaffinity(0, {min(os.sched_getaffinity(0))}); sys.path.insert(0, sys.argv[1]); "
          "import test_transfer_entropy as t; sys.stdout.write(t.matrix_bytes(int(sys.argv[2])).hex())")


def test_one_cpu_and_all_agree():
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    out = subprocess.run([sys.executable, "-c", PINNED, os.path.dirname(__file__), "40"], env=env,
                         capture_output=True, text=True, check=True).stdout
    assert bytes.fromhex(out) == matrix_bytes(40)
