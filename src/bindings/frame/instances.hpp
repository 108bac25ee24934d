// Class instances, object borrows, and the classes each module owns.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

#include "bindings/frame/errors.hpp"

namespace qel::py {

struct InstanceBase {
    PyObject ob_base;
    std::atomic<std::int64_t> borrow;  // 0 free, -1 exclusive, >0 shared readers
    // Set once the engine object is built. An instance made without the
    // constructor (Python code can replace __new__) stays zero-filled.
    bool alive;
};

template <class T>
struct Instance : InstanceBase {
    alignas(T) unsigned char storage[sizeof(T)];
    T& value() { return *std::launder(reinterpret_cast<T*>(storage)); }
};

[[noreturn]] void raise_never_built(InstanceBase* inst);

// Borrows an instance for one call; refuses an instance that was never built.
class ObjectBorrow {
public:
    ObjectBorrow(InstanceBase* inst, bool exclusive) : inst_(inst), exclusive_(exclusive) {
        if (!inst->alive) [[unlikely]]
            raise_never_built(inst);
        if (exclusive) {
            std::int64_t expected = 0;
            if (!inst->borrow.compare_exchange_strong(expected, -1)) [[unlikely]]
                raise_runtime_error("Already borrowed");
        } else {
            std::int64_t v = inst->borrow.load();
            do {
                if (v < 0) [[unlikely]]
                    raise_runtime_error("Already mutably borrowed");
            } while (!inst->borrow.compare_exchange_weak(v, v + 1));
        }
    }
    ~ObjectBorrow() {
        if (exclusive_)
            inst_->borrow.store(0);
        else
            inst_->borrow.fetch_sub(1);
    }
    ObjectBorrow(const ObjectBorrow&) = delete;
    ObjectBorrow& operator=(const ObjectBorrow&) = delete;

private:
    InstanceBase* inst_;
    bool exclusive_;
};

// Each module object keeps its own type objects; a class is found by its
// place in the registration table, the same in every module object.
inline constexpr std::size_t kClassSlots = 22;
inline constexpr std::size_t kNoSlot = std::numeric_limits<std::size_t>::max();
struct ModuleState {
    PyTypeObject* types[kClassSlots];
};
template <class T>
struct TypeSlot {
    static inline std::size_t index = kNoSlot;
};

// Where a call came from: the module of a function, a class of the module
// (static methods) or an instance (methods). Resolved to the module's state
// only when a result is an instance of one of its classes.
class Caller {
public:
    explicit Caller(PyObject* self) : self_(self) {}
    ModuleState& state() const;

private:
    PyObject* self_;
};
// For results built outside a call (Dict::set): they cannot hold instances.
struct NoCaller {};

// A new instance of type tp holding value.
template <class T>
PyObject* new_instance_of(PyTypeObject* tp, T&& value) {
    using D = std::decay_t<T>;
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(tp, Py_tp_alloc));
    PyObject* self = alloc(tp, 0);
    if (!self) throw PyErrSet{};
    auto* inst = reinterpret_cast<Instance<D>*>(self);
    new (&inst->borrow) std::atomic<std::int64_t>(0);
    new (inst->storage) D(std::forward<T>(value));
    inst->alive = true;
    return self;
}

PyTypeObject* class_of(const Caller& caller, std::size_t index);

// A new instance of the caller's module's class registered for T.
template <class T>
PyObject* new_instance(T&& value, const Caller& caller) {
    return new_instance_of(class_of(caller, TypeSlot<std::decay_t<T>>::index), std::forward<T>(value));
}

template <class T>
void dealloc_trampoline(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    auto* inst = reinterpret_cast<Instance<T>*>(self);
    if (inst->alive) {
        inst->value().~T();
        inst->alive = false;
    }
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
    free_fn(self);
    Py_DECREF(tp);
}

}  // namespace qel::py
