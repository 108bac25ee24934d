import os
import subprocess
import sys

import numpy as np
import pytest

import qel_kernel as qk
from reference import lif_ensemble as ref

CFG = "invalid config: "


def state(e):
    return e.voltages().tobytes(), e.spike_counts().tolist(), e.step_count


def test_worked_example_reset_and_readers():
    e = qk.PyLIFEnsemble(2, 3)
    assert (e.n_total, e.n_layers, e.neurons_per_layer, e.step_count) == (6, 2, 3, 0)
    assert e.get_neuron_states() == [{"v": 0.0, "refractory": 0}] * 6
    assert [list(d) for d in e.get_neuron_states()] == [["v", "refractory"]] * 6
    assert e.step(np.array([1.0, 0.0]), 10).tolist() == [1000.0, 0.0]
    assert e.step(np.array([0.0, 0.0]), 10).tolist() == [500.0, 0.0]
    counts = e.spike_counts()
    assert counts.dtype == np.uint64 and counts.tolist() == [10, 10, 10, 0, 0, 0]
    assert e.step_count == 20
    e.reset()
    assert state(e) == (bytes(48), [0] * 6, 0)
    # Rates count only what follows the reset; 0.5 from rest gives 0.5, no spike.
    assert e.step(np.array([0.5, -2.0]), 1).tolist() == [0.0, 0.0]
    assert e.voltages().tolist() == [0.5] * 3 + [-2.0] * 3


@pytest.mark.parametrize("n_layers, per_layer", [(3, 5), (3, 700), (1, 2500)])  # layers across pool chunks
def test_matches_reference_bit_for_bit(n_layers, per_layer):
    rng = np.random.default_rng(n_layers * per_layer)
    e, r = qk.PyLIFEnsemble(n_layers, per_layer, noise_std=-1.0), ref.Ensemble(n_layers, per_layer)
    for substeps in (1, 7, 40, 3):
        currents = rng.choice([-0.3, 0.0, 0.04, 0.07, 0.2, 1.5], n_layers) * rng.uniform(0.5, 1.5, n_layers)
        assert e.step(currents, substeps).tobytes() == r.step(currents, substeps).tobytes()
    assert e.voltages().tobytes() == r.v.tobytes()
    assert np.array_equal(e.spike_counts(), r.spikes) and e.step_count == r.step_count
    assert [d["refractory"] for d in e.get_neuron_states()] == r.refractory.tolist()


@pytest.mark.parametrize(
    "args, exc, text",
    [
        ((0, 3), ValueError, CFG + "n_layers and neurons_per_layer must be > 0"),
        ((3, 0, float("nan")), ValueError, CFG + "n_layers and neurons_per_layer must be > 0"),
        ((3, 3, float("inf")), ValueError, CFG + "LIF params must be finite, dt>0, refractory_period>=0"),
        ((2**32, 2**32), BaseException, "capacity overflow"),  # the product overflows
        ((2**30, 2**30), BaseException, "capacity overflow"),  # 2^60 neurons
        ((2**59 - 1, 1), MemoryError, None),
    ],
)
def test_constructor_refusals(args, exc, text):
    with pytest.raises(exc) as info:
        qk.PyLIFEnsemble(*args)
    if text is not None:
        assert str(info.value) == text
    if text == "capacity overflow":  # the internal error, which `except Exception` does not catch
        assert type(info.value).__name__ == "PanicException"


@pytest.mark.parametrize(
    "currents, substeps, text",
    [
        (np.zeros(8)[::4], 1, "currents array not contiguous: The given array is not contiguous or is misaligned."),
        (np.zeros(2), 1, CFG + "expected 3 currents, got 2"),
        (np.zeros(0), 0, CFG + "expected 3 currents, got 0"),  # an empty array passes the layout test
        (np.array([np.nan, 0.0, 0.0]), 0, CFG + "n_substeps must be > 0"),
        (np.array([0.0, 0.0, -np.inf]), 5, CFG + "currents must be finite per layer"),
    ],
)
def test_refused_step_changes_nothing(currents, substeps, text):
    e = qk.PyLIFEnsemble(3, 2)
    e.step(np.array([0.3, 1.0, 0.06]), 4)
    before = state(e)
    with pytest.raises(ValueError) as info:
        e.step(currents, substeps)
    assert str(info.value) == text
    assert state(e) == before


def test_same_bits_on_one_cpu_and_on_the_pool():
    script = ("import os, sys, numpy as np\n"
              "if sys.argv[1] == '1': os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})\n"
              "import qel_kernel as qk\n"
              "e = qk.PyLIFEnsemble(7, 3001)\n"
              "r = [e.step(np.linspace(-0.1, 0.3, 7), k) for k in (5, 60)]\n"
              "sys.stdout.write((np.concatenate(r + [e.voltages()]).tobytes() + e.spike_counts().tobytes()).hex())\n")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    outs = [subprocess.run([sys.executable, "-c", script, k], env=env, capture_output=True, text=True,
                           check=True).stdout for k in ("1", "all")]
    assert outs[0] == outs[1] and outs[0]
