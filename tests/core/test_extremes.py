"""Hostile sizes and non-finite values: every size a caller gives either ends in an error or a result, never in a
signal or a wrapped index; a NaN stays NaN wherever a silent finite result would read as a real one."""
import numpy as np
import pytest

import qel_kernel as qk
from support import run_child

A = np.array
N = 3
EXTREMES = [0, 1, 2**63, 2**64 - 1]


def refused(error):
    """What a hostile size may end in: the Part's error or the internal error; a signal ends the run instead."""
    return isinstance(error, (ValueError, OverflowError, MemoryError)) or type(error).__name__ == "PanicException"


def rnd(n, seed=0):
    return np.random.default_rng(seed).uniform(0.0, 6.0, n)


def knm(n=N):
    return (np.ones((n, n)) - np.eye(n)).ravel() * 0.5


def i64(*v):
    return A(v, dtype=np.int64)


# name -> (builder of small valid arguments, positions of the sizes among them). Loop counts (n_steps and the like)
# are left out: a huge one is a long, interruptible run, not arithmetic on a size.
SIZED = {
    "attnres_modulate_rust": (lambda: [knm(), rnd(N), rnd(4), rnd(4), rnd(4), rnd(4), N, 1, -1, 1.0, 0.5], [6, 7, 8]),
    "twin_divergence_rust": (lambda: [rnd(N), rnd(N, 1), rnd(2), rnd(2, 1), N, 2, 8], [4, 5, 6]),
    "pac_modulation_index": (lambda: [rnd(20), rnd(20, 1), 8], [2]),
    "pac_matrix_compute": (lambda: [rnd(20), rnd(20, 1), 10, 2, 8], [2, 3, 4]),
    "ring_phase": (lambda: [1, 4], [0, 1]),
    "ring_phases_rust": (lambda: [i64(0, 1, 3), 4], [1]),
    "graph_walk_phase": (lambda: [1, 4], [0, 1]),
    "graph_walk_phases_rust": (lambda: [i64(0, 1, 3), 4], [1]),
    "transition_quality": (lambda: [1, 4], [0, 1]),
    "transition_qualities_rust": (lambda: [i64(0, 1, 3), 4, 1.0], [1]),
    "pid_decomposition_rust": (lambda: [rnd(12), 4, N, i64(0), i64(1), 4], [1, 2, 5]),
    "ordinal_pattern_sequence": (lambda: [rnd(10), 3, 1], [1, 2]),
    "transition_entropy": (lambda: [rnd(10), 3, 1], [1, 2]),
    "winding_numbers": (lambda: [rnd(12), N], [1]),
    "lyapunov_spectrum_rust": (lambda: [rnd(N), rnd(N, 1), knm(), np.zeros(N * N), 0.01, 20, 5], [6]),
    "recurrence_matrix_rust": (lambda: [rnd(8), 4, 2, 1.0, False], [1, 2]),
    "cross_recurrence_matrix_rust": (lambda: [rnd(8), rnd(8, 1), 4, 2, 1.0, False], [2, 3]),
    "rqa_rust": (lambda: [np.ones(16, dtype=np.uint8), 4, 2, 2, True], [1, 2, 3]),
    "phase_transfer_entropy_rust": (lambda: [rnd(20), rnd(20, 1), 4], [2]),
    "transfer_entropy_matrix_rust": (lambda: [rnd(30), N, 10, 4], [1, 2, 3]),
    "fiedler_value_rust": (lambda: [knm(), N], [1]),
    "fiedler_vector_rust": (lambda: [knm(), N], [1]),
    "spectral_gap_rust": (lambda: [knm(), N], [1]),
    "critical_coupling_rust": (lambda: [rnd(N), knm(), N], [2]),
    "sync_convergence_rate_rust": (lambda: [knm(), rnd(N), N, 2.0], [2]),
    "detect_chimera_rust": (lambda: [rnd(N), knm(), N], [2]),
    "correlation_integral_rust": (lambda: [rnd(10), 5, 2, A([0.5, 1.0, 2.0]), 100, 42], [1, 2, 4, 5]),
    "compute_itpc_rust": (lambda: [rnd(12), 3, 4], [1, 2]),
    "itpc_persistence_rust": (lambda: [rnd(12), 3, 4, i64(1, 2)], [1, 2]),
    "delay_embed_rust": (lambda: [rnd(10), 2, 3], [1, 2]),
    "optimal_delay_rust": (lambda: [rnd(40), 5, 8], [1, 2]),
    "optimal_dimension_rust": (lambda: [rnd(40), 1, 4, 15.0, 2.0], [1, 2]),
    "poincare_section_rust": (lambda: [A([-1.0, 1.0, -1.0, 1.0]), 4, 1, A([1.0]), 0.0, "both"], [1, 2]),
    "phase_poincare_rust": (lambda: [A([4.0, 1.0, 5.0, 1.0, 5.0, 1.0]), 6, 1, 0, 0.0], [1, 2, 3]),
    "entropy_from_phases_rust": (lambda: [rnd(10), 8], [1]),
    "compute_ssgf_costs_rust": (lambda: [knm(), rnd(N), N, 1.0, 0.5, 0.1, 0.1], [2]),
    "swarmalator_run_rust": (lambda: [rnd(2 * N), rnd(N, 1), rnd(N, 2), N, 2, 0.01, 1.0, 1.0, 1.0, 1.0, 5], [3, 4]),
    "delayed_kuramoto_run_rust": (lambda: [rnd(N), rnd(N, 1), knm(), np.zeros(N * N), N, 0.1, 0.2, 0.01, 2, 5],
                                  [4, 8]),
    "add_langevin_noise_rust": (lambda: [rnd(N), 1.0, 0.01, 7], [3]),
    "hodge_decomposition_rust": (lambda: [knm(), rnd(N), N, i64(0, 1, 1, 2, 0, 2), 3, i64(0, 1, 2), 1], [2, 4, 6]),
    "compute_ei_balance_rust": (lambda: [knm(), N, i64(0, 1), i64(2)], [1]),
    "adjust_ei_ratio_rust": (lambda: [knm(), N, i64(0, 1), i64(2), 1.0], [1]),
    "spatial_modulate_rust": (lambda: [knm(), rnd(2 * N), N, 2, 1.0, 0, 1.0, 1.0, 0.1], [2, 3, 5]),
    "inertial_step_rust": (lambda: [rnd(N), rnd(N, 1), rnd(N, 2), knm(), np.ones(N), np.ones(N), N, 0.01], [6]),
    "inertial_run_rust": (lambda: [rnd(N), rnd(N, 1), rnd(N, 2), knm(), np.ones(N), np.ones(N), N, 0.01, 5], [6]),
    "market_order_parameter_rust": (lambda: [rnd(12), 4, N], [1, 2]),
    "market_plv_rust": (lambda: [rnd(12), 4, N, 2], [1, 2, 3]),
    "basin_stability_rust": (lambda: [rnd(N), knm(), np.zeros(N * N), N, 0.01, 5, 5, 3, 0.5, 1], [3, 7, 9]),
    "steady_state_r_rust": (lambda: [rnd(N), rnd(N, 1), knm(), np.zeros(N * N), N, 1.0, 0.01, 5, 5], [4]),
    "trace_sync_transition_rust": (lambda: [rnd(N), knm(), np.zeros(N * N), N, rnd(N, 1), 0.0, 2.0, 3, 0.01, 5, 5],
                                   [3, 7]),
    "find_critical_coupling_bif_rust": (lambda: [rnd(N), knm(), np.zeros(N * N), N, rnd(N, 1), 0.01, 5, 5, 0.5],
                                        [3]),
    "simplicial_run_rust": (lambda: [rnd(N), rnd(N, 1), knm(), np.zeros(N * N), N, 0.1, 0.2, 0.3, 0.01, 5], [4]),
    "hypergraph_run_rust": (lambda: [rnd(N), rnd(N, 1), N, i64(0, 1, 2), i64(0), A([0.5]), knm(), np.zeros(N * N),
                                     0.1, 0.2, 0.01, 5], [2]),
    "torus_run_rust": (lambda: [rnd(N), rnd(N, 1), knm(), np.zeros(N * N), N, 0.1, 0.2, 0.01, 5], [4]),
    "splitting_run_rust": (lambda: [rnd(N), rnd(N, 1), knm(), np.zeros(N * N), N, 0.1, 0.2, 0.01, 5], [4]),
    "extract_envelope_rust": (lambda: [rnd(10), 3], [1]),
    "te_adapt_coupling_rust": (lambda: [knm(), rnd(N * N), N, 0.1, 0.1], [2]),
    "prior_distance_decay_rust": (lambda: [N, 1.0, 0.5], [0]),
    "compute_ethical_cost_rust": (lambda: [rnd(N), knm(), N, 1.0, 1.0, 1.0, 1.0, 1.0, 0.5, 0.1, 2.0], [2]),
    "frequency_specificity_rust": (lambda: [rnd(12), 3, 4, 2.0, 5.0], [1, 2]),
    "estimate_coupling_rust": (lambda: [rnd(N * 10), rnd(N, 1), N, 10, 0.01], [2, 3]),
    "sindy_fit_rust": (lambda: [rnd(N * 10), N, 10, 0.01, 0.05, 5], [1, 2]),
    "carrier_decode_rust": (lambda: [rnd(2), rnd(8, 1), 2], [2]),
    "load_hcp_connectome_rust": (lambda: [4, 3], [0, 1]),
    "identify_frequencies_rust": (lambda: [rnd(32), 2, 16, 100.0], [1, 2]),
    "koopman_edmd_solve_rust": (lambda: [rnd(6), rnd(4), rnd(6, 1), rnd(4, 1), 2, 3, 2, 2, 0.1], [4, 5, 6, 7]),
}


@pytest.mark.parametrize("name, at", [(name, at) for name, (_, places) in SIZED.items() for at in places])
def test_extreme_sizes_end_in_an_error_or_a_result(name, at):
    for value in EXTREMES:
        args = SIZED[name][0]()
        args[at] = value
        try:
            getattr(qk, name)(*args)
        except BaseException as error:  # noqa: B036 (the internal error is not an Exception)
            assert refused(error), (value, error)


# Sizes taken by the classes: constructors, and the methods that take a size.
CLASS_SIZED = {
    "PyUPDEStepper(n)": lambda v: qk.PyUPDEStepper(v, 0.01),
    "PyUPDEStepper(n_substeps)": lambda v: qk.PyUPDEStepper(N, 0.01, "euler", v),
    "PySheafUPDEStepper(n)": lambda v: qk.PySheafUPDEStepper(v, 2, 0.01),
    "PySheafUPDEStepper(d)": lambda v: qk.PySheafUPDEStepper(N, v, 0.01),
    "PyInertialStepper(n)": lambda v: qk.PyInertialStepper(v, 0.01),
    "PyHypergraphStepper(n)": lambda v: qk.PyHypergraphStepper(v, 0.01),
    "PySplittingStepper(n)": lambda v: qk.PySplittingStepper(v, 0.01),
    "PySwarmalatorStepper(n)": lambda v: qk.PySwarmalatorStepper(v, 2, 0.01),
    "PySwarmalatorStepper(dim)": lambda v: qk.PySwarmalatorStepper(N, v, 0.01),
    "PySimplicialStepper(n)": lambda v: qk.PySimplicialStepper(v, 0.01),
    "PySparseUPDEStepper(n)": lambda v: qk.PySparseUPDEStepper(v, 0.01),
    "PyStuartLandauStepper(n)": lambda v: qk.PyStuartLandauStepper(v, 0.01),
    "PyImprintModel(n)": lambda v: qk.PyImprintModel(v, 0.1, 1.0),
    "PyLagModel.zeros(n)": lambda v: qk.PyLagModel.zeros(v),
    "PyLagModel.estimate(n)": lambda v: qk.PyLagModel.estimate(np.zeros(9), v, 1.0),
    "PyCouplingBuilder.build(n)": lambda v: qk.PyCouplingBuilder().build(v, 1.0, 0.5),
    "PyCouplingBuilder.project(n)": lambda v: qk.PyCouplingBuilder.project(knm(), v),
    "PyLIFEnsemble(n_layers)": lambda v: qk.PyLIFEnsemble(v, 2),
    "PyLIFEnsemble(neurons_per_layer)": lambda v: qk.PyLIFEnsemble(2, v),
    "PyRegimeManager(cooldown_steps)": lambda v: qk.PyRegimeManager(0.05, v, 0),
    "PyRegimeManager(hysteresis_hold_steps)": lambda v: qk.PyRegimeManager(0.05, 10, v),
    "PySupervisorPolicy(cooldown_steps)": lambda v: qk.PySupervisorPolicy(0.05, v),
    "PyActiveInferenceAgent(n_hidden)": lambda v: qk.PyActiveInferenceAgent(v, 0.5, 1.0),
}


@pytest.mark.parametrize("name", CLASS_SIZED)
def test_extreme_class_sizes_end_in_an_error_or_an_object(name):
    for value in EXTREMES:
        try:
            CLASS_SIZED[name](value)
        except BaseException as error:  # noqa: B036
            assert refused(error), (value, error)


REPRODUCERS = """
import numpy as np, qel_kernel as qk
try:
    qk.te_adapt_coupling_rust(np.zeros(4), np.zeros(4), 2**64 - 1, 0.1, 0.1)
except BaseException as e:
    print(type(e).__name__, e)
pts, times, n = qk.phase_poincare_rust(np.array([4.0, 1.0, 5.0, np.nan, 1.0]), 5, 1)
print(n, *times)
print(*qk.lyapunov_spectrum_rust(np.zeros(2), np.array([1.0, np.nan]), np.array([0, 1, 1, 0.]), np.zeros(4)))
"""


def test_reproducers_end_cleanly():
    refused, crossings, spectrum = run_child(REPRODUCERS).splitlines()
    assert refused.startswith("PanicException index out of bounds: the len is 4 but the index is 4")
    n, *times = crossings.split()
    assert all(float(t) < 3.0 for t in times) and int(n) == len(times)
    assert spectrum == "nan nan"


@pytest.mark.parametrize("bad", [np.nan, np.inf, -np.inf])
@pytest.mark.parametrize("at", [0, 2, 4, 8])
def test_a_non_finite_phase_ends_the_crossings(bad, at):
    phases = np.tile(A([1.0, 5.0]), 5)  # the relative phase falls from 5 to 1, a crossing, after every odd sample
    phases[at] = bad
    _, times, n = qk.phase_poincare_rust(phases, 10, 1, 0, 0.0)
    assert n == len(times) == max(0, (at - 1) // 2) and all(t < at for t in times)
    # a non-finite section phase leaves nothing to cross
    assert qk.phase_poincare_rust(np.tile(A([1.0, 5.0]), 5), 10, 1, 0, bad)[2] == 0


def lyapunov_args():
    return [rnd(N), rnd(N, 1), knm(), np.zeros(N * N), 0.01, 20, 5, 0.3, 0.2]


@pytest.mark.parametrize("bad", [np.nan, np.inf, -np.inf])
@pytest.mark.parametrize("at", [0, 1, 2, 3, 4, 7])
def test_non_finite_lyapunov_inputs_give_nan_exponents(bad, at):
    args = lyapunov_args()
    if isinstance(args[at], np.ndarray):
        args[at][1] = bad
    else:
        args[at] = bad
    assert np.isnan(qk.lyapunov_spectrum_rust(*args)).all()

