#include "bindings/frame/instances.hpp"

#include "types/format.hpp"

namespace qel::py {

namespace {
[[noreturn, gnu::cold, gnu::noinline]] void raise_never_built(InstanceBase* inst) {
    std::string name = type_name(reinterpret_cast<PyObject*>(inst));
    raise_type_error(
        text::cat("this ", name, " object was never initialised: it was made without its constructor"));
}
}  // namespace

ObjectBorrow::ObjectBorrow(InstanceBase* inst, bool exclusive) : inst_(inst), exclusive_(exclusive) {
    if (!inst->alive) [[unlikely]]
        raise_never_built(inst);
    if (exclusive) {
        std::int64_t expected = 0;
        if (!inst->borrow.compare_exchange_strong(expected, -1)) raise_runtime_error("Already borrowed");
    } else {
        std::int64_t v = inst->borrow.load();
        do {
            if (v < 0) raise_runtime_error("Already mutably borrowed");
        } while (!inst->borrow.compare_exchange_weak(v, v + 1));
    }
}

ObjectBorrow::~ObjectBorrow() {
    if (exclusive_)
        inst_->borrow.store(0);
    else
        inst_->borrow.fetch_sub(1);
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
