// The module definition and its execution step: every class, then every
// function, in a fixed order, each listed in __all__.
#include "bindings/frame.hpp"

namespace qel::py {
namespace {

constexpr const char* kClassOrder[] = {
    "PyUPDEStepper", "PySheafUPDEStepper", "PyActiveInferenceAgent", "PyInertialStepper",
    "PyHypergraphStepper", "PySplittingStepper", "PySwarmalatorStepper", "PySimplicialStepper",
    "PySparseUPDEStepper", "PyCouplingBuilder", "PyRegimeManager", "PyCoherenceMonitor",
    "PyBoundaryObserver", "PyImprintModel", "PyActionProjector", "PyPhaseQualityScorer",
    "PyLagModel", "PySupervisorPolicy", "PyStuartLandauStepper", "PyPetriNet",
    "PyRuleEngine", "PyLIFEnsemble",
};

constexpr const char* kFunctionOrder[] = {
    "attnres_modulate_rust", "twin_divergence_rust", "pac_modulation_index", "pac_matrix_compute",
    "order_parameter", "plv", "compute_layer_coherence_rust", "ring_phase",
    "ring_phases_rust", "event_phase", "physical_extract", "graph_walk_phase",
    "graph_walk_phases_rust", "transition_quality", "transition_qualities_rust", "layer_coherence",
    "pid_decomposition_rust", "compute_npe", "phase_distance_matrix", "ordinal_pattern_sequence",
    "transition_entropy", "entropy_production_rate", "winding_numbers", "lyapunov_spectrum_rust",
    "recurrence_matrix_rust", "cross_recurrence_matrix_rust", "rqa_rust", "phase_transfer_entropy_rust",
    "transfer_entropy_matrix_rust", "fiedler_value_rust", "fiedler_vector_rust", "spectral_gap_rust",
    "critical_coupling_rust", "sync_convergence_rate_rust", "detect_chimera_rust", "correlation_integral_rust",
    "kaplan_yorke_dimension_rust", "compute_itpc_rust", "itpc_persistence_rust", "delay_embed_rust",
    "optimal_delay_rust", "optimal_dimension_rust", "poincare_section_rust", "phase_poincare_rust",
    "entropy_from_phases_rust", "reduce_coupling_rust", "compute_ssgf_costs_rust", "swarmalator_run_rust",
    "delayed_kuramoto_run_rust", "boltzmann_weight_rust", "effective_temperature_rust", "add_langevin_noise_rust",
    "hodge_decomposition_rust", "compute_ei_balance_rust", "adjust_ei_ratio_rust", "spatial_modulate_rust",
    "inertial_step_rust", "inertial_run_rust", "market_order_parameter_rust", "market_plv_rust",
    "detect_regimes_rust", "basin_stability_rust", "steady_state_r_rust", "trace_sync_transition_rust",
    "find_critical_coupling_bif_rust", "simplicial_run_rust", "hypergraph_run_rust", "torus_run_rust",
    "extract_envelope_rust", "envelope_modulation_depth_rust", "oa_run_rust", "steady_state_r_oa_rust",
    "fit_lorentzian_rust", "splitting_run_rust", "te_adapt_coupling_rust", "prior_log_probability_rust",
    "prior_distance_decay_rust", "compute_ethical_cost_rust", "classify_sleep_stage_rust", "ultradian_phase_rust",
    "frequency_specificity_rust", "estimate_coupling_rust", "sindy_fit_rust", "extract_phases_rust",
    "carrier_decode_rust", "load_hcp_connectome_rust", "identify_frequencies_rust", "koopman_edmd_solve_rust",
};

static_assert(std::size(kClassOrder) == 22);
static_assert(std::size(kFunctionOrder) == 88);

Module& definitions() {
    // Built once per process; the method tables must outlive every module object.
    static Module* m = [] {
        auto* mod = new Module();
        for (RegisterFn f : registrars()) f(*mod);
        for (auto& [name, fn] : mod->functions) {
            bool listed = false;
            for (const char* n : kFunctionOrder) listed = listed || name == n;
            if (!listed) throw std::logic_error("function without a registration slot: " + name);
        }
        for (auto& [name, c] : mod->classes) {
            bool listed = false;
            for (const char* n : kClassOrder) listed = listed || name == n;
            if (!listed || c->basicsize == 0) throw std::logic_error("class without a declaration or slot: " + name);
        }
        return mod;
    }();
    return *m;
}

void add_name(PyObject* module, PyObject* all, const char* name, PyObject* value) {
    Obj s = Obj::check(PyUnicode_FromString(name));
    if (PyList_Append(all, s.get()) != 0) throw PyErrSet{};
    if (PyObject_SetAttr(module, s.get(), value) != 0) throw PyErrSet{};
}

PyTypeObject* create_type(PyObject* module, ClassDef& c) {
    if (c.slots.empty() || c.slots.back().slot != 0) {
        c.methods.push_back({nullptr, nullptr, 0, nullptr});
        c.getsets.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
        c.slots.push_back({Py_tp_doc, const_cast<char*>(c.keep(c.doc))});
        c.slots.push_back({Py_tp_methods, c.methods.data()});
        c.slots.push_back({Py_tp_getset, c.getsets.data()});
        c.slots.push_back({0, nullptr});
    }
    unsigned flags = Py_TPFLAGS_DEFAULT;
    if (!c.instantiable) flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;
    PyType_Spec spec{c.name.c_str(), static_cast<int>(c.basicsize), 0, flags, c.slots.data()};
    PyObject* tp = PyType_FromModuleAndSpec(module, &spec, nullptr);
    if (!tp) throw PyErrSet{};
    return reinterpret_cast<PyTypeObject*>(tp);
}

int qel_module_exec(PyObject* module) {
    try {
        Module& m = definitions();
        Obj all = Obj::check(PyList_New(0));
        if (PyObject_SetAttrString(module, "__all__", all.get()) != 0) throw PyErrSet{};

        // A bare type name makes CPython warn that the type has no __module__;
        // create the types with that warning ignored, then set __module__.
        Obj warnings = Obj::check(PyImport_ImportModule("warnings"));
        Obj guard = Obj::check(PyObject_CallMethod(warnings.get(), "catch_warnings", nullptr));
        Obj entered = Obj::check(PyObject_CallMethod(guard.get(), "__enter__", nullptr));
        std::vector<std::pair<const char*, Obj>> types;
        bool failed = false;
        try {
            Obj r = Obj::check(
                PyObject_CallMethod(warnings.get(), "simplefilter", "sO", "ignore", PyExc_DeprecationWarning));
            for (const char* name : kClassOrder) {
                auto it = m.classes.find(std::string_view(name));
                if (it == m.classes.end()) continue;
                types.emplace_back(name, Obj(reinterpret_cast<PyObject*>(create_type(module, *it->second))));
            }
        } catch (PyErrSet&) {
            failed = true;
        }
        PyObject *et, *ev, *etb;
        PyErr_Fetch(&et, &ev, &etb);
        Obj exit = Obj::check(PyObject_CallMethod(guard.get(), "__exit__", "OOO", Py_None, Py_None, Py_None));
        PyErr_Restore(et, ev, etb);
        if (failed) throw PyErrSet{};

        Obj modname = Obj::check(PyUnicode_FromString("qel_kernel"));
        for (auto& [name, tp] : types) {
            PyTypeObject* t = reinterpret_cast<PyTypeObject*>(tp.get());
            if (PyObject_SetAttrString(tp.get(), "__module__", modname.get()) != 0) throw PyErrSet{};
            ClassDef& c = *m.classes.find(std::string_view(name))->second;
            Py_INCREF(tp.get());
            *c.type_slot = t;
            add_name(module, all.get(), name, tp.get());
        }
        for (const char* name : kFunctionOrder) {
            auto it = m.functions.find(std::string_view(name));
            if (it == m.functions.end()) continue;
            Obj fn = Obj::check(PyCFunction_NewEx(&it->second->def, module, modname.get()));
            add_name(module, all.get(), name, fn.get());
        }
        return 0;
    } catch (...) {
        map_current_exception();
        return -1;
    }
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&qel_module_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "qel_kernel", "", 0, nullptr, module_slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace qel::py

PyMODINIT_FUNC PyInit_qel_kernel(void) { return PyModuleDef_Init(&qel::py::module_def); }
