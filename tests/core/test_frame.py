"""The module frame: import, registration, argument matching and conversion."""
import importlib.util
import inspect
import os
import subprocess
import sys

import numpy as np
import pytest

import qel_kernel as qk


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


def test_all_lists_every_name_once_classes_first():
    names = qk.__all__
    assert len(names) == len(set(names))
    kinds = [isinstance(getattr(qk, n), type) for n in names]
    assert kinds == sorted(kinds, reverse=True)
    assert {n for n in dir(qk) if not n.startswith("_")} == set(names)


# The registration order, which is the order of __all__: 22 classes, then 88 functions.
ALL_NAMES = [
    "PyUPDEStepper", "PySheafUPDEStepper", "PyActiveInferenceAgent", "PyInertialStepper", "PyHypergraphStepper",
    "PySplittingStepper", "PySwarmalatorStepper", "PySimplicialStepper", "PySparseUPDEStepper", "PyCouplingBuilder",
    "PyRegimeManager", "PyCoherenceMonitor", "PyBoundaryObserver", "PyImprintModel", "PyActionProjector",
    "PyPhaseQualityScorer", "PyLagModel", "PySupervisorPolicy", "PyStuartLandauStepper", "PyPetriNet", "PyRuleEngine",
    "PyLIFEnsemble",
    # functions
    "attnres_modulate_rust", "twin_divergence_rust", "pac_modulation_index", "pac_matrix_compute", "order_parameter",
    "plv", "compute_layer_coherence_rust", "ring_phase", "ring_phases_rust", "event_phase", "physical_extract",
    "graph_walk_phase", "graph_walk_phases_rust", "transition_quality", "transition_qualities_rust", "layer_coherence",
    "pid_decomposition_rust", "compute_npe", "phase_distance_matrix", "ordinal_pattern_sequence", "transition_entropy",
    "entropy_production_rate", "winding_numbers", "lyapunov_spectrum_rust", "recurrence_matrix_rust",
    "cross_recurrence_matrix_rust", "rqa_rust", "phase_transfer_entropy_rust", "transfer_entropy_matrix_rust",
    "fiedler_value_rust", "fiedler_vector_rust", "spectral_gap_rust", "critical_coupling_rust",
    "sync_convergence_rate_rust", "detect_chimera_rust", "correlation_integral_rust", "kaplan_yorke_dimension_rust",
    "compute_itpc_rust", "itpc_persistence_rust", "delay_embed_rust", "optimal_delay_rust", "optimal_dimension_rust",
    "poincare_section_rust", "phase_poincare_rust", "entropy_from_phases_rust", "reduce_coupling_rust",
    "compute_ssgf_costs_rust", "swarmalator_run_rust", "delayed_kuramoto_run_rust", "boltzmann_weight_rust",
    "effective_temperature_rust", "add_langevin_noise_rust", "hodge_decomposition_rust", "compute_ei_balance_rust",
    "adjust_ei_ratio_rust", "spatial_modulate_rust", "inertial_step_rust", "inertial_run_rust",
    "market_order_parameter_rust", "market_plv_rust", "detect_regimes_rust", "basin_stability_rust",
    "steady_state_r_rust", "trace_sync_transition_rust", "find_critical_coupling_bif_rust", "simplicial_run_rust",
    "hypergraph_run_rust", "torus_run_rust", "extract_envelope_rust", "envelope_modulation_depth_rust", "oa_run_rust",
    "steady_state_r_oa_rust", "fit_lorentzian_rust", "splitting_run_rust", "te_adapt_coupling_rust",
    "prior_log_probability_rust", "prior_distance_decay_rust", "compute_ethical_cost_rust",
    "classify_sleep_stage_rust", "ultradian_phase_rust", "frequency_specificity_rust", "estimate_coupling_rust",
    "sindy_fit_rust", "extract_phases_rust", "carrier_decode_rust", "load_hcp_connectome_rust",
    "identify_frequencies_rust", "koopman_edmd_solve_rust",
]


def test_all_is_the_registration_order():
    assert len(ALL_NAMES) == 110
    assert qk.__all__ == ALL_NAMES


# One of each form: defaults of every literal kind, a constructor, a method, a static method.
SIGNATURES = {
    "detect_regimes_rust": "(r, sync_threshold=0.7, desync_threshold=0.3)",
    "PyUPDEStepper": "(n, dt=0.01, method='euler', n_substeps=1, atol=1e-06, rtol=0.001)",
    "PyCouplingBuilder": "()",
    "PyUPDEStepper.set_plasticity": "(self, /, lr, decay=0.0, modulator=1.0)",
    "PyLagModel.zeros": "(n)",
    "PyRuleEngine.evaluate_state": "(self, /, regime, layer_rs, good_layers, bad_layers, extra=None)",
}


@pytest.mark.parametrize("name", sorted(SIGNATURES))
def test_text_signatures(name):
    obj = qk
    for part in name.split("."):
        obj = getattr(obj, part)
    assert str(inspect.signature(obj)) == SIGNATURES[name]


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
        np.zeros(3, dtype=np.float32),
        np.zeros((2, 2)),
        np.zeros(3).astype(">f8"),
        None,
    ],
    ids=["float32", "2d", "byteswapped", "none"],
)
def test_float64_array_refusals(bad):
    with pytest.raises(TypeError) as e:
        qk.plv(z3, bad)
    assert e.value.__notes__ == ["while processing 'phases_b'"]


def test_contiguity():
    strided = np.arange(6.0)[::2]
    with pytest.raises(ValueError, match=r"^The given array is not contiguous or is misaligned\.(\n|$)"):
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


@pytest.mark.parametrize(
    "indices, exc",
    [([-1], OverflowError), ([2**64], OverflowError), ([1.0], TypeError), ("01", TypeError)],
)
def test_unsigned_sequence_conversion(indices, exc):
    with pytest.raises(exc) as e:
        qk.layer_coherence(z3, indices)
    assert e.value.__notes__ == ["while processing 'indices'"]
    if isinstance(indices, str):
        assert str(e.value) == "Can't extract `str` to `Vec`"


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
    grown = np.zeros(4)

    class Grow:
        def __float__(self):
            grown.resize(50000, refcheck=False)
            grown[:] = 0.9
            return 0.5

    out = qk.detect_regimes_rust(grown, Grow())
    assert out.shape == (50000,) and (out == 2).all()

    def reshape(a):
        a.shape = (2, 2)

    def retype(a):
        a.dtype = np.int32

    # The last call copies its array element by element; that copy is checked again as well.
    calls = [(reshape, qk.detect_regimes_rust, "r"), (retype, qk.detect_regimes_rust, "r"),
             (reshape, qk.PyActiveInferenceAgent().control, "phases")]
    for change, call, name in calls:
        a = np.zeros(4)

        class Change:
            def __float__(self):
                change(a)
                return 0.5

        with pytest.raises(TypeError, match="changed during argument conversion") as info:
            call(a, Change())
        assert info.value.__notes__ == [f"while processing '{name}'"]


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
    for positions in (tuple(pos), strided[::2], pos.astype(">f8"), pos.astype(np.float32)):
        assert np.array_equal(qk.spatial_modulate_rust(knm.T.T.ravel(), positions, *args), expect)
    with pytest.raises(TypeError) as e:
        qk.spatial_modulate_rust(knm.ravel(), np.array(["a", "b", "c", "d"]), *args)
    assert e.value.__notes__ == ["while processing 'positions'"]


def fresh_module():
    """A second module object from the same shared library, with its own classes."""
    spec = importlib.util.find_spec("qel_kernel")
    mod = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(mod)
    return mod


def test_each_module_builds_its_own_classes():
    other = fresh_module()
    assert other is not qk and other.PyLagModel is not qk.PyLagModel
    for mod in (qk, other, qk):
        lag = mod.PyLagModel.zeros(2)
        assert type(lag) is mod.PyLagModel and lag.n == 2
        assert type(mod.PyLagModel.estimate([0.0, 1.0, 1.0, 0.0], 2, 1.0)) is mod.PyLagModel
        assert type(lag.zeros(1)) is mod.PyLagModel
    assert isinstance(other.PyUPDEStepper(2), other.PyUPDEStepper)


def test_a_sub_interpreter_keeps_its_classes_to_itself():
    if importlib.util.find_spec("_xxsubinterpreters") is None:
        pytest.skip("no sub-interpreters in this Python")
    code = (
        "import _xxsubinterpreters as si, qel_kernel as qk\n"
        "interp = si.create()\n"
        "si.run_string(interp, 'import qel_kernel as qk\\n"
        "assert type(qk.PyLagModel.zeros(3)) is qk.PyLagModel')\n"
        "si.destroy(interp)\n"
        "assert type(qk.PyLagModel.zeros(3)) is qk.PyLagModel\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert out.returncode == 0, out.stderr


def test_instances_made_without_the_constructor_are_refused():
    # Python code can replace __new__ (the types are mutable); an instance
    # whose engine object was never built must refuse every method, getter
    # and setter rather than hand the engine an empty object.
    mod = fresh_module()  # its classes may be spoilt without harm
    reached = set()
    for name in mod.__all__:
        cls = getattr(mod, name)
        if not isinstance(cls, type):
            continue
        cls.__new__ = lambda c, *a, **k: object.__new__(c)
        obj = cls()
        assert type(obj) is cls
        for attr, member in vars(cls).items():
            if attr.startswith("_") or isinstance(member, staticmethod):
                continue
            calls = []
            if inspect.isgetsetdescriptor(member):
                calls.append(lambda: getattr(obj, attr))
                calls.append(lambda: setattr(obj, attr, 0.5))
            else:
                n = len(inspect.signature(member).parameters) - 1
                calls.append(lambda: getattr(obj, attr)(*[None] * n))
            for call in calls:
                try:
                    call()
                except AttributeError as e:  # a property without a setter
                    assert "not writable" in str(e)
                except TypeError as e:
                    assert str(e) == f"this {name} object was never initialised: it was made without its constructor"
                    reached.add((name, attr))
                else:
                    pytest.fail(f"{name}.{attr} ran on an instance that was never built")
    assert ("PyUPDEStepper", "run_moving_frame_schedule") in reached
    assert ("PyActiveInferenceAgent", "target_r") in reached
    assert len(reached) >= 30


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: qk.PyCoherenceMonitor({}, []), "expected a sequence of int, got dict"),
        (lambda: qk.PyRegimeManager().evaluate([0.5], {"a": 1}), "expected a sequence of str, got dict"),
        (lambda: qk.PyRuleEngine([["r"]]), "expected a tuple of 7 items, got list"),
        (lambda: qk.PyActionProjector([], {}), "expected a dict of str to float, got list"),
        (lambda: qk.PyUPDEStepper(2, method=1), "expected str, got int"),
        (lambda: qk.plv([0.0], z3), "expected a one-dimensional float64 NumPy array, got list"),
    ],
)
def test_conversion_messages_say_what_was_expected(call, message):
    with pytest.raises(TypeError) as e:
        call()
    assert str(e.value) == message


def test_memory_error_says_what_failed():
    with pytest.raises(MemoryError) as e:
        qk.PyUPDEStepper(10**12)
    assert "PyUPDEStepper" in str(e.value)


# The failure report on stderr names the engine code that found the short input, not the helper that built the error.
@pytest.mark.parametrize("call, where", [
    ("qk.detect_chimera_rust(np.zeros(2), np.ones(9), 3)", "src/engine/chimera.cpp:"),
    ("qk.compute_ei_balance_rust(np.zeros(4), 3, np.array([0]), np.array([1]))", "src/engine/ei_balance.cpp:"),
    ("qk.te_adapt_coupling_rust(np.zeros(4), np.zeros(4), 3, 0.1, 0.1)", "src/engine/te_adaptive.cpp:"),
])
def test_internal_error_report_names_the_failing_code(call, where):
    code = f"import numpy as np, qel_kernel as qk\ntry:\n    {call}\nexcept BaseException as e:\n    print(type(e).__name__)"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=60)
    assert out.stdout.strip() == "PanicException"
    lines = [ln for ln in out.stderr.splitlines() if ln.startswith("qel_kernel: internal error")]
    assert len(lines) == 1 and f" at {where}" in lines[0] and "internal_errors.hpp" not in lines[0]
