"""Delay embedding, the mutual-information delay and the false-nearest-neighbour dimension."""
import numpy as np
import pytest

import qel_kernel as qk
from reference import embedding as ref
from support import internal_error, same_on_one_cpu


@pytest.mark.parametrize("t, delay, dim, msg", [
    (0, 0, 0, "dimension must be >= 1"),
    (9, 0, 2, "delay must be >= 1"),
    (0, 1, 1, "Signal too short (T=0) for delay=1, dimension=1: need T > 0"),
    (9, 3, 4, "Signal too short (T=9) for delay=3, dimension=4: need T > 9"),
])
def test_embed_messages_in_order(t, delay, dim, msg):
    with pytest.raises(ValueError) as info:
        qk.delay_embed_rust(np.arange(float(t)), delay, dim)
    assert str(info.value) == msg


def test_embed_span_beyond_64_bits():
    assert internal_error(qk.delay_embed_rust, np.ones(4), 2**63, 3) == "capacity overflow"


@pytest.mark.parametrize("t, delay, dim", [(11, 3, 4), (7, 1, 1), (100003, 3, 5)])
def test_embed_matches_fancy_indexing(t, delay, dim):
    x = np.random.default_rng(t).normal(size=t)
    x[::5] = np.nan
    n = t - (dim - 1) * delay
    out = qk.delay_embed_rust(x, delay, dim)
    assert out.tobytes() == x[np.arange(n)[:, None] + delay * np.arange(dim)].tobytes()
    if dim == 1:
        assert not np.shares_memory(out, x)


def signals():
    rng = np.random.default_rng(7)
    t = np.arange(3000)
    noisy_sine = np.sin(0.05 * t) + rng.normal(0, 0.1, t.size)
    holes = noisy_sine.copy()
    holes[::13] = np.nan
    holes[5] = -np.inf
    return {"sine": np.sin(0.07 * t), "noisy sine": noisy_sine, "holes": holes, "noise": rng.normal(size=500),
            "short": np.arange(5.0), "constant": np.full(400, 2.5), "empty": np.zeros(0)}


@pytest.mark.parametrize("name", list(signals()))
@pytest.mark.parametrize("max_lag, n_bins", [(100, 32), (2, 32), (40, 0), (30, 65536)])
def test_delay_matches_the_profile(name, max_lag, n_bins):
    # 65536 bins: a dense table per lag would be 32 GiB; the observed pairs are counted instead.
    x = signals()[name]
    assert qk.optimal_delay_rust(x, max_lag, n_bins) == ref.optimal_delay(x, max_lag, n_bins)


@pytest.mark.parametrize("n_bins", [150, 200])
def test_delay_with_tables_near_the_sample_count(n_bins):
    x = np.sin(0.01 * np.arange(45000)) + np.random.default_rng(n_bins).normal(0, 0.5, 45000)
    assert qk.optimal_delay_rust(x, 4, n_bins) == ref.optimal_delay(x, 4, n_bins)


def test_delay_defaults_and_degenerate_input():
    x = signals()["noisy sine"]
    assert qk.optimal_delay_rust(x) == ref.optimal_delay(x) > 1
    assert qk.optimal_delay_rust(np.full(100, 3.0)) == qk.optimal_delay_rust(x, 0) == 1
    # Constant from sample 7 on: the profile falls to a plateau of exact zeros at lag 7, which is no minimum.
    plateau = np.array([0.0, 3.0, 1.0, 4.0, 2.0, 0.5, 3.5] + [2.5] * 33)
    assert qk.optimal_delay_rust(plateau, 20, 8) == 1


@pytest.mark.parametrize("name", ["sine", "noise", "constant", "short"])
@pytest.mark.parametrize("delay, max_dim", [(3, 10), (0, 5), (2, 0), (25, 10)])
def test_dimension_matches_cdist(name, delay, max_dim):
    x = signals()[name][:600]
    got = qk.optimal_dimension_rust(x, delay, max_dim)
    assert got == ref.optimal_dimension(x, delay, max_dim) <= max(max_dim, 1)


def test_dimension_tolerances_and_repeated_points():
    x = np.random.default_rng(1).normal(size=300)
    assert [qk.optimal_dimension_rust(x, 1, 6, r, a) for r, a in [(1e9, 1e9), (0.0, 0.0), (15.0, 1.0)]] == \
        [ref.optimal_dimension(x, 1, 6, r, a) for r, a in [(1e9, 1e9), (0.0, 0.0), (15.0, 1.0)]]
    # Every point repeated: every nearest neighbour is at 0.0, nothing is counted.
    assert qk.optimal_dimension_rust(np.repeat([1.0, 2.0], 20), 1, 5) == 1


@pytest.mark.parametrize("name", ["rounded", "repeated", "sine"])
def test_dimension_with_ties_matches_cdist(name):
    # Large enough for the neighbour tree: equal coordinates, equal distances and repeated points.
    rng = np.random.default_rng(4)
    x = {"rounded": np.round(rng.normal(size=1500), 1),
         "repeated": np.tile(rng.normal(size=300), 5),
         "sine": np.sin(0.05 * np.arange(1500)) + np.round(rng.normal(0, 0.05, 1500), 2)}[name]
    assert qk.optimal_dimension_rust(x, 1, 8, 10.0, 2.0) == ref.optimal_dimension(x, 1, 8, 10.0, 2.0)


def test_dimension_on_one_cpu():
    same_on_one_cpu(
        "import numpy as np, qel_kernel as qk\n"
        f"x = np.round(np.random.default_rng(9).normal(size=1200), 1)\n"
        "out = np.array([qk.optimal_dimension_rust(x, k, 8, r, 2.0) for k in (1, 3) for r in (2.0, 10.0)]).tobytes()\n")
