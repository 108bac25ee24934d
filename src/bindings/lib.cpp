// The module definition and its execution step: every class, then every
// function, in a fixed order, each listed in __all__. Each module object
// keeps its own classes in its state, so that a second import or a
// sub-interpreter builds instances of its own classes.
#include "bindings/frame.hpp"
#include "engine/util/interrupt.hpp"

namespace qel::py {
namespace {

constexpr const char* kClassOrder[] = {
    "PyUPDEStepper",       "PySheafUPDEStepper", "PyActiveInferenceAgent", "PyInertialStepper",
    "PyHypergraphStepper", "PySplittingStepper", "PySwarmalatorStepper",   "PySimplicialStepper",
    "PySparseUPDEStepper", "PyCouplingBuilder",  "PyRegimeManager",        "PyCoherenceMonitor",
    "PyBoundaryObserver",  "PyImprintModel",     "PyActionProjector",      "PyPhaseQualityScorer",
    "PyLagModel",          "PySupervisorPolicy", "PyStuartLandauStepper",  "PyPetriNet",
    "PyRuleEngine",        "PyLIFEnsemble",
};

constexpr const char* kFunctionOrder[] = {
    "attnres_modulate_rust",
    "twin_divergence_rust",
    "pac_modulation_index",
    "pac_matrix_compute",
    "order_parameter",
    "plv",
    "compute_layer_coherence_rust",
    "ring_phase",
    "ring_phases_rust",
    "event_phase",
    "physical_extract",
    "graph_walk_phase",
    "graph_walk_phases_rust",
    "transition_quality",
    "transition_qualities_rust",
    "layer_coherence",
    "pid_decomposition_rust",
    "compute_npe",
    "phase_distance_matrix",
    "ordinal_pattern_sequence",
    "transition_entropy",
    "entropy_production_rate",
    "winding_numbers",
    "lyapunov_spectrum_rust",
    "recurrence_matrix_rust",
    "cross_recurrence_matrix_rust",
    "rqa_rust",
    "phase_transfer_entropy_rust",
    "transfer_entropy_matrix_rust",
    "fiedler_value_rust",
    "fiedler_vector_rust",
    "spectral_gap_rust",
    "critical_coupling_rust",
    "sync_convergence_rate_rust",
    "detect_chimera_rust",
    "correlation_integral_rust",
    "kaplan_yorke_dimension_rust",
    "compute_itpc_rust",
    "itpc_persistence_rust",
    "delay_embed_rust",
    "optimal_delay_rust",
    "optimal_dimension_rust",
    "poincare_section_rust",
    "phase_poincare_rust",
    "entropy_from_phases_rust",
    "reduce_coupling_rust",
    "compute_ssgf_costs_rust",
    "swarmalator_run_rust",
    "delayed_kuramoto_run_rust",
    "boltzmann_weight_rust",
    "effective_temperature_rust",
    "add_langevin_noise_rust",
    "hodge_decomposition_rust",
    "compute_ei_balance_rust",
    "adjust_ei_ratio_rust",
    "spatial_modulate_rust",
    "inertial_step_rust",
    "inertial_run_rust",
    "market_order_parameter_rust",
    "market_plv_rust",
    "detect_regimes_rust",
    "basin_stability_rust",
    "steady_state_r_rust",
    "trace_sync_transition_rust",
    "find_critical_coupling_bif_rust",
    "simplicial_run_rust",
    "hypergraph_run_rust",
    "torus_run_rust",
    "extract_envelope_rust",
    "envelope_modulation_depth_rust",
    "oa_run_rust",
    "steady_state_r_oa_rust",
    "fit_lorentzian_rust",
    "splitting_run_rust",
    "te_adapt_coupling_rust",
    "prior_log_probability_rust",
    "prior_distance_decay_rust",
    "compute_ethical_cost_rust",
    "classify_sleep_stage_rust",
    "ultradian_phase_rust",
    "frequency_specificity_rust",
    "estimate_coupling_rust",
    "sindy_fit_rust",
    "extract_phases_rust",
    "carrier_decode_rust",
    "load_hcp_connectome_rust",
    "identify_frequencies_rust",
    "koopman_edmd_solve_rust",
};

static_assert(std::size(kClassOrder) == kClassSlots);
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
            std::size_t slot = kNoSlot;
            for (std::size_t i = 0; i < kClassSlots; ++i)
                if (name == kClassOrder[i]) slot = i;
            if (slot == kNoSlot || c->basicsize == 0)
                throw std::logic_error("class without a declaration or slot: " + name);
            *c->index_slot = slot;
        }
        // The other way round: a listed name that nothing registered would
        // leave a hole in __all__; the import fails with its name instead.
        for (const char* n : kClassOrder)
            if (!mod->classes.contains(std::string_view(n)))
                throw std::logic_error(std::string("listed class without a registration: ") + n);
        for (const char* n : kFunctionOrder)
            if (!mod->functions.contains(std::string_view(n)))
                throw std::logic_error(std::string("listed function without a registration: ") + n);
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

// Static methods get their class as self, so that what they build is an
// instance of that module's class.
void add_static_methods(PyObject* tp, ClassDef& c, PyObject* modname) {
    if (c.statics.empty()) return;
    Obj builtins = Obj::check(PyImport_ImportModule("builtins"));
    Obj staticmethod = Obj::check(PyObject_GetAttrString(builtins.get(), "staticmethod"));
    for (PyMethodDef& def : c.statics) {
        Obj fn = Obj::check(PyCFunction_NewEx(&def, tp, modname));
        Obj sm = Obj::check(PyObject_CallFunctionObjArgs(staticmethod.get(), fn.get(), nullptr));
        if (PyObject_SetAttrString(tp, def.ml_name, sm.get()) != 0) throw PyErrSet{};
    }
}

// Long engine loops ask between iterations; a pending signal (Ctrl-C) stops
// them with its exception set. Cheap when nothing is pending.
bool signals_pending() { return PyErr_CheckSignals() != 0; }

ModuleState& state_of(PyObject* module) { return *static_cast<ModuleState*>(PyModule_GetState(module)); }

int qel_module_exec(PyObject* module) {
    try {
        qel::interrupt_hook = &signals_pending;
        Module& m = definitions();
        ModuleState& st = state_of(module);
        Obj all = Obj::check(PyList_New(0));
        if (PyObject_SetAttrString(module, "__all__", all.get()) != 0) throw PyErrSet{};

        // A bare type name makes CPython warn that the type has no __module__;
        // create the types with that warning ignored, then set __module__.
        Obj warnings = Obj::check(PyImport_ImportModule("warnings"));
        Obj guard = Obj::check(PyObject_CallMethod(warnings.get(), "catch_warnings", nullptr));
        Obj entered = Obj::check(PyObject_CallMethod(guard.get(), "__enter__", nullptr));
        std::vector<std::pair<std::size_t, Obj>> types;
        bool failed = false;
        try {
            Obj r = Obj::check(
                PyObject_CallMethod(warnings.get(), "simplefilter", "sO", "ignore", PyExc_DeprecationWarning));
            for (std::size_t i = 0; i < kClassSlots; ++i) {
                auto it = m.classes.find(std::string_view(kClassOrder[i]));  // present: checked by definitions()
                types.emplace_back(i, Obj(reinterpret_cast<PyObject*>(create_type(module, *it->second))));
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
        for (auto& [slot, tp] : types) {
            if (PyObject_SetAttrString(tp.get(), "__module__", modname.get()) != 0) throw PyErrSet{};
            add_static_methods(tp.get(), *m.classes.find(std::string_view(kClassOrder[slot]))->second, modname.get());
            Py_INCREF(tp.get());
            Py_XDECREF(reinterpret_cast<PyObject*>(st.types[slot]));
            st.types[slot] = reinterpret_cast<PyTypeObject*>(tp.get());
            add_name(module, all.get(), kClassOrder[slot], tp.get());
        }
        for (const char* name : kFunctionOrder) {
            auto it = m.functions.find(std::string_view(name));  // present: checked by definitions()
            Obj fn = Obj::check(PyCFunction_NewEx(&it->second->def, module, modname.get()));
            add_name(module, all.get(), name, fn.get());
        }
        return 0;
    } catch (...) {
        map_current_exception("import qel_kernel");
        return -1;
    }
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&qel_module_exec)},
    {0, nullptr},
};

// The types refer to the module and the module to its types: the collector
// must see that cycle.
int module_traverse(PyObject* module, visitproc visit, void* arg) {
    for (PyTypeObject* t : state_of(module).types) Py_VISIT(t);
    return 0;
}

int module_clear(PyObject* module) {
    for (PyTypeObject*& t : state_of(module).types) Py_CLEAR(t);
    return 0;
}

void module_free(void* module) { module_clear(static_cast<PyObject*>(module)); }

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "qel_kernel",    "",           sizeof(ModuleState), nullptr,
    module_slots,          module_traverse, module_clear, module_free,
};

}  // namespace
}  // namespace qel::py

PyMODINIT_FUNC PyInit_qel_kernel(void) { return PyModuleDef_Init(&qel::py::module_def); }
