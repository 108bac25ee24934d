#include "bindings/frame/instances.hpp"

#include "types/format.hpp"

namespace qel::py {

void raise_never_built(InstanceBase* inst) {
    std::string name = type_name(reinterpret_cast<PyObject*>(inst));
    raise_type_error(text::cat("this ", name, " object was never initialised: it was made without its constructor"));
}

ModuleState& Caller::state() const {
    void* st = nullptr;
    if (PyType_Check(self_))
        st = PyType_GetModuleState(reinterpret_cast<PyTypeObject*>(self_));
    else if (PyModule_Check(self_))
        st = PyModule_GetState(self_);
    else
        st = PyType_GetModuleState(Py_TYPE(self_));
    if (!st) {
        if (!PyErr_Occurred()) raise_panic("call from outside a module");
        throw PyErrSet{};
    }
    return *static_cast<ModuleState*>(st);
}

PyTypeObject* class_of(const Caller& caller, std::size_t index) {
    ModuleState& st = caller.state();
    PyTypeObject* tp = index < kClassSlots ? st.types[index] : nullptr;
    if (!tp) raise_panic("class not registered");
    return tp;
}

}  // namespace qel::py
