"""The module frame: import, registration, argument matching and conversion."""
import inspect
import os
import subprocess
import sys

import numpy as np
import pytest

import qel_kernel as qk

CLASS_ORDER = [
    "PyUPDEStepper", "PySheafUPDEStepper", "PyActiveInferenceAgent", "PyInertialStepper",
    "PyHypergraphStepper", "PySplittingStepper", "PySwarmalatorStepper", "PySimplicialStepper",
    "PySparseUPDEStepper", "PyCouplingBuilder", "PyRegimeManager", "PyCoherenceMonitor",
    "PyBoundaryObserver", "PyImprintModel", "PyActionProjector", "PyPhaseQualityScorer",
    "PyLagModel", "PySupervisorPolicy", "PyStuartLandauStepper", "PyPetriNet", "PyRuleEngine",
    "PyLIFEnsemble",
]
# Names this module provides today; the other slots belong to later subsystems.
PRESENT_FUNCTIONS = [
    "pac_modulation_index", "pac_matrix_compute", "order_parameter", "plv", "compute_layer_coherence_rust",
    "layer_coherence", "winding_numbers", "fiedler_value_rust", "fiedler_vector_rust", "spectral_gap_rust",
    "critical_coupling_rust", "sync_convergence_rate_rust", "detect_chimera_rust", "compute_itpc_rust",
    "itpc_persistence_rust", "reduce_coupling_rust", "hodge_decomposition_rust", "spatial_modulate_rust",
    "detect_regimes_rust", "basin_stability_rust", "steady_state_r_rust", "trace_sync_transition_rust",
    "find_critical_coupling_bif_rust", "extract_envelope_rust", "envelope_modulation_depth_rust",
    "te_adapt_coupling_rust", "classify_sleep_stage_rust", "ultradian_phase_rust", "frequency_specificity_rust",
    "estimate_coupling_rust", "carrier_decode_rust", "identify_frequencies_rust",
]


def test_import_is_clean_and_lazy():
    code = (
        "import sys, qel_kernel\n"
        "assert 'numpy' not in sys.modules, 'numpy imported at import time'\n"
        "print(len(qel_kernel.__all__))\n"
    )
    env = dict(os.environ)
    out = subprocess.run([sys.executable, "-W", "error", "-c", code], capture_output=True, text=True, env=env)
    assert out.returncode == 0, out.stderr
    assert int(out.stdout) == len(qk.__all__)


def test_only_init_symbol_exported():
    nm = subprocess.run(["nm", "-D", "--defined-only", qk.__file__], capture_output=True, text=True)
    if nm.returncode != 0:
        pytest.skip("nm not available")
    names = [line.split()[-1] for line in nm.stdout.splitlines() if line.strip()]
    assert names == ["PyInit_qel_kernel"]


def test_all_follows_registration_order():
    names = qk.__all__
    assert len(names) == len(set(names))
    classes = [n for n in names if n.startswith("Py")]
    funcs = [n for n in names if not n.startswith("Py")]
    assert names == classes + funcs
    assert classes == [c for c in CLASS_ORDER if c in classes]
    assert set(CLASS_ORDER) - set(classes) == {
        "PyInertialStepper", "PyHypergraphStepper", "PySplittingStepper", "PySwarmalatorStepper",
        "PySimplicialStepper", "PyPhaseQualityScorer", "PyStuartLandauStepper", "PyLIFEnsemble",
    }
    assert funcs == PRESENT_FUNCTIONS
    for n in names:
        assert getattr(qk, n) is not None
    public = {n for n in dir(qk) if not n.startswith("_")}
    assert public == set(names)


SIGNATURES = {
    "order_parameter": "(phases)",
    "plv": "(phases_a, phases_b)",
    "compute_layer_coherence_rust": "(phases, indices)",
    "layer_coherence": "(phases, indices)",
    "reduce_coupling_rust": "(knm, reduction_factor)",
    "spatial_modulate_rust": "(knm, positions, n, dim, k_base, decay_form_code, decay_exponent, "
    "decay_length_scale, epsilon)",
    "detect_regimes_rust": "(r, sync_threshold=0.7, desync_threshold=0.3)",
    "fiedler_value_rust": "(knm, n)",
    "fiedler_vector_rust": "(knm, n)",
    "spectral_gap_rust": "(knm, n)",
    "critical_coupling_rust": "(omegas, knm, n)",
    "sync_convergence_rate_rust": "(knm, omegas, n, gamma_max)",
    "steady_state_r_rust": "(phases_init, omegas, knm_flat, alpha_flat, n, k_scale, dt, n_transient, n_measure)",
    "trace_sync_transition_rust": "(omegas, knm_flat, alpha_flat, n, phases_init, k_min, k_max, n_points, dt, "
    "n_transient, n_measure)",
    "find_critical_coupling_bif_rust": "(omegas, knm_flat, alpha_flat, n, phases_init, dt, n_transient, n_measure, "
    "tol)",
    "basin_stability_rust": "(omegas, knm_flat, alpha_flat, n, dt, n_transient, n_measure, n_samples, r_threshold, "
    "seed)",
    "winding_numbers": "(phases_history, n_oscillators)",
    "detect_chimera_rust": "(phases, knm, n)",
    "hodge_decomposition_rust": "(knm_flat, phases, n, edges_flat, n_edges, tris_flat, n_tris)",
    "te_adapt_coupling_rust": "(knm, te, n, lr, decay)",
    "estimate_coupling_rust": "(phases, omegas, n, t, dt)",
    "PyUPDEStepper": "(n, dt=0.01, method='euler', n_substeps=1, atol=1e-06, rtol=0.001)",
    "PySheafUPDEStepper": "(n, d, dt=0.01, method='euler', n_substeps=1, atol=1e-06, rtol=0.001)",
    "PySparseUPDEStepper": "(n, dt=0.01, method='euler', n_substeps=1, atol=1e-06, rtol=0.001)",
    "PyActiveInferenceAgent": "(n_hidden=4, target_r=0.5, lr=1.0)",
    "PyCouplingBuilder": "()",
    "PyRegimeManager": "(hysteresis=0.05, cooldown_steps=10, hysteresis_hold_steps=0)",
    "PyCoherenceMonitor": "(good_layers, bad_layers)",
    "PyBoundaryObserver": "()",
    "PyImprintModel": "(n, decay_rate, saturation)",
    "PyActionProjector": "(rate_limits, value_bounds)",
    "PySupervisorPolicy": "(hysteresis=0.05, cooldown_steps=10)",
    "PyPetriNet": "(places, transitions)",
    "PyRuleEngine": "(rules)",
}


@pytest.mark.parametrize("name", sorted(SIGNATURES))
def test_text_signatures(name):
    assert str(inspect.signature(getattr(qk, name))) == SIGNATURES[name]


def test_function_objects():
    for name in qk.__all__:
        obj = getattr(qk, name)
        assert obj.__module__ == "qel_kernel"
        if not name.startswith("Py"):
            assert obj.__self__ is qk
    assert qk.PyUPDEStepper.__name__ == "PyUPDEStepper" == qk.PyUPDEStepper.__qualname__
    with pytest.raises(TypeError, match="cannot create 'PyLagModel' instances"):
        qk.PyLagModel()


@pytest.mark.parametrize("value, exc", [(-1, OverflowError), (2**32, OverflowError), (3.0, TypeError)])
def test_narrow_unsigned_conversion(value, exc):
    with pytest.raises(exc) as e:
        qk.PyUPDEStepper(3, n_substeps=value)
    assert e.value.__notes__ == ["while processing 'n_substeps'"]
    if exc is OverflowError:
        assert str(e.value) == "out of range integral type conversion attempted"


z3 = np.zeros(3)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: qk.plv(z3), "plv() missing 1 required positional argument: 'phases_b'"),
        (lambda: qk.plv(), "plv() missing 2 required positional arguments: 'phases_a' and 'phases_b'"),
        (lambda: qk.plv(z3, z3, z3), "plv() takes 2 positional arguments but 3 were given"),
        (lambda: qk.order_parameter(z3, z3), "order_parameter() takes 1 positional argument but 2 were given"),
        (lambda: qk.detect_regimes_rust(z3, 1, 2, 3),
         "detect_regimes_rust() takes from 1 to 3 positional arguments but 4 were given"),
        (lambda: qk.plv(z3, phases_c=z3), "plv() got an unexpected keyword argument 'phases_c'"),
        (lambda: qk.plv(z3, z3, phases_a=z3), "plv() got multiple values for argument 'phases_a'"),
    ],
)
def test_argument_matching(call, message):
    with pytest.raises(TypeError) as e:
        call()
    assert str(e.value) == message


def test_keywords_and_defaults():
    r = np.array([0.5])
    assert qk.detect_regimes_rust(r=r, desync_threshold=0.6).tolist() == [0]
    assert qk.detect_regimes_rust(r, 0.4).tolist() == [2]
    assert qk.plv(phases_b=z3, phases_a=z3) == 1.0


@pytest.mark.parametrize(
    "bad",
    [
        [0.0, 1.0],
        np.zeros(3, dtype=np.float32),
        np.zeros(3, dtype=np.int64),
        np.zeros((2, 2)),
        np.zeros(3).astype(">f8"),
        "abc",
        None,
    ],
    ids=["list", "float32", "int64", "2d", "byteswapped", "str", "none"],
)
def test_float64_array_refusals(bad):
    with pytest.raises(TypeError) as e:
        qk.plv(z3, bad)
    assert e.value.__notes__ == ["while processing 'phases_b'"]


def test_contiguity():
    strided = np.arange(6.0)[::2]
    with pytest.raises(ValueError, match=r"^The given array is not contiguous or is misaligned\.$"):
        qk.order_parameter(strided)
    misaligned = np.zeros(4 * 8 + 1, dtype=np.uint8)[1:].view(np.float64)
    with pytest.raises(ValueError, match="not contiguous or is misaligned"):
        qk.order_parameter(misaligned)
    # Empty and one-element views pass whatever their strides.
    assert qk.order_parameter(np.arange(6.0)[::2][:0]) == (0.0, 0.0)
    assert qk.order_parameter(np.zeros((3, 3))[:, 1][:1]) == (1.0, 0.0)
    # Read-only arrays are fine for reading.
    ro = np.zeros(3)
    ro.flags.writeable = False
    assert qk.order_parameter(ro) == (1.0, 0.0)


def test_int64_array_for_indices():
    with pytest.raises(TypeError) as e:
        qk.compute_layer_coherence_rust(z3, np.array([0, 1], dtype=np.int32))
    assert e.value.__notes__ == ["while processing 'indices'"]
    with pytest.raises(ValueError, match="not contiguous"):
        qk.compute_layer_coherence_rust(z3, np.arange(4)[::2])


@pytest.mark.parametrize(
    "indices, exc",
    [([-1], OverflowError), ([2**64], OverflowError), ([1.0], TypeError), ("01", TypeError), (3, TypeError)],
)
def test_unsigned_sequence_conversion(indices, exc):
    with pytest.raises(exc) as e:
        qk.layer_coherence(z3, indices)
    assert e.value.__notes__ == ["while processing 'indices'"]


def test_str_is_not_a_sequence():
    with pytest.raises(TypeError, match="Can't extract `str` to `Vec`"):
        qk.layer_coherence(z3, "0")


def test_float_conversion():
    class Floaty:
        def __float__(self):
            return 0.9

    class Indexy:
        def __index__(self):
            return 1

    r = np.array([0.8])
    assert qk.detect_regimes_rust(r, Floaty()).tolist() == [1]
    assert qk.detect_regimes_rust(r, Indexy()).tolist() == [1]
    assert qk.detect_regimes_rust(r, 0).tolist() == [2]
    with pytest.raises(TypeError) as e:
        qk.detect_regimes_rust(r, "0.5")
    assert e.value.__notes__ == ["while processing 'sync_threshold'"]


def test_conversion_errors_keep_their_own_type():
    class Bad:
        def __float__(self):
            raise KeyError("boom")

    with pytest.raises(KeyError) as e:
        qk.detect_regimes_rust(np.zeros(1), Bad())
    assert e.value.__notes__ == ["while processing 'sync_threshold'"]


def test_results_are_new_arrays():
    r = np.array([0.9, 0.1])
    a = qk.detect_regimes_rust(r)
    b = qk.detect_regimes_rust(r)
    assert a.dtype == np.int32 and a.flags.c_contiguous and a.flags.writeable and a.flags.owndata
    assert a is not b and not np.shares_memory(a, b)


def test_array_changed_by_a_later_conversion():
    # Python code run while converting a later argument may reshape, resize
    # or retype an array converted earlier: its layout is read only afterwards.
    r = np.zeros(4)

    class Reshape:
        def __float__(self):
            r.shape = (2, 2)
            return 0.5

    with pytest.raises(TypeError, match="changed during argument conversion"):
        qk.detect_regimes_rust(r, Reshape())

    grown = np.zeros(4)

    class Grow:
        def __float__(self):
            grown.resize(50000, refcheck=False)
            grown[:] = 0.9
            return 0.5

    out = qk.detect_regimes_rust(grown, Grow())
    assert out.shape == (50000,) and (out == 2).all()

    retyped = np.zeros(4)

    class Retype:
        def __float__(self):
            retyped.dtype = np.int32
            return 0.5

    with pytest.raises(TypeError, match="changed during argument conversion"):
        qk.detect_regimes_rust(retyped, Retype())


def test_float_sequence_from_arrays():
    # A float sequence takes lists, tuples and NumPy arrays of any layout,
    # copied item by item in index order.
    knm = np.arange(16.0).reshape(4, 4) / 10.0
    np.fill_diagonal(knm, 0.0)
    pos = np.array([0.0, 1.0, 3.0, 6.0])
    args = (4, 1, 1.0, 0, 1.0, 1.0, 1.0)
    expect = qk.spatial_modulate_rust(knm.ravel().tolist(), pos.tolist(), *args)
    strided = np.zeros(8)
    strided[::2] = pos
    for positions in (tuple(pos), pos, strided[::2], pos.astype(">f8"), pos.astype(np.float32), pos[::-1][::-1]):
        assert np.array_equal(qk.spatial_modulate_rust(knm.T.T.ravel(), positions, *args), expect)
    with pytest.raises(TypeError) as e:
        qk.spatial_modulate_rust(knm.ravel(), np.array(["a", "b", "c", "d"]), *args)
    assert e.value.__notes__ == ["while processing 'positions'"]
