// Call trampolines: the C entry points CPython calls. Each matches the
// arguments, borrows the object, converts in parameter order, calls the
// lambda and turns its result into a Python object; nothing C++ escapes.
#pragma once

#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "bindings/frame/args.hpp"
#include "bindings/frame/results.hpp"
#include "bindings/frame/signature.hpp"

namespace qel::py {

template <class F>
struct FnTraits : FnTraits<decltype(&F::operator())> {};
template <class C, class R, class... A>
struct FnTraits<R (C::*)(A...) const> {
    using result = R;
    using args = std::tuple<A...>;
    static constexpr std::size_t arity = sizeof...(A);
};

template <class T>
using ArgOf = Arg<std::remove_cvref_t<T>>;

// Conversions in parameter order (a failure gets the parameter's note), then
// each parameter's contiguity test and borrow, again in order.
template <class... C>
void convert_all(const Signature& sig, PyObject** slots, std::tuple<C...>& convs) {
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (
            [&] {
                try {
                    std::get<I>(convs).convert(slots[I]);
                } catch (PyErrSet&) {
                    add_param_note(sig.names[I]);
                    throw;
                }
            }(),
            ...);
        (std::get<I>(convs).finish(sig.names[I]), ...);
    }(std::index_sequence_for<C...>{});
}

// Converts slots into fn's arguments (A...) and calls it.
template <class F, class... A>
decltype(auto) call_with(const Signature& sig, PyObject** slots, F&& fn, std::tuple<A...>*) {
    std::tuple<ArgOf<A>...> convs;
    convert_all(sig, slots, convs);
    return std::apply([&](auto&... c) -> decltype(auto) { return fn(c.get()...); }, convs);
}

// Runs call() and turns what it returns into a new reference (None for void).
template <class Call>
PyObject* py_result(Call&& call, const Caller& caller) {
    if constexpr (std::is_void_v<decltype(call())>) {
        call();
        Py_RETURN_NONE;
    } else {
        PyObject* r = to_py(call(), caller);
        if (!r) throw PyErrSet{};
        return r;
    }
}

// A lambda that takes its object non-const borrows it exclusively.
template <class L>
constexpr bool kExclusive =
    !std::is_const_v<std::remove_reference_t<std::tuple_element_t<0, typename FnTraits<L>::args>>>;

// A method: the object is borrowed before the arguments are converted.
template <class L, class Self, class First, class... A>
PyObject* invoke_method(const Signature& sig, PyObject** slots, PyObject* self, std::tuple<First, A...>*) {
    auto* inst = reinterpret_cast<Instance<Self>*>(self);
    ObjectBorrow guard(inst, kExclusive<L>);
    auto bound = [&](auto&&... a) -> decltype(auto) { return L{}(inst->value(), std::forward<decltype(a)>(a)...); };
    return py_result(
        [&]() -> decltype(auto) { return call_with(sig, slots, bound, static_cast<std::tuple<A...>*>(nullptr)); },
        Caller(self));
}

// Per-lambda signature. Never destroyed: it holds Python objects, and static
// destructors run after the interpreter has gone.
template <class L>
struct SigOf {
    static inline Signature& sig = *new Signature();
};

// Module functions (self is the module) and static methods (self is the class).
template <class L>
PyObject* fn_trampoline(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    using Args = typename FnTraits<L>::args;
    try {
        PyObject* slots[kMaxParams + 1];
        match_fastcall(SigOf<L>::sig, args, nargsf, kwnames, slots);
        return py_result(
            [&]() -> decltype(auto) { return call_with(SigOf<L>::sig, slots, L{}, static_cast<Args*>(nullptr)); },
            Caller(self));
    } catch (...) {
        map_current_exception(SigOf<L>::sig.display);
        return nullptr;
    }
}

template <class T, class L>
PyObject* method_trampoline(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    try {
        PyObject* slots[kMaxParams + 1];
        match_fastcall(SigOf<L>::sig, args, nargsf, kwnames, slots);
        return invoke_method<L, T>(SigOf<L>::sig, slots, self, static_cast<typename FnTraits<L>::args*>(nullptr));
    } catch (...) {
        map_current_exception(SigOf<L>::sig.display);
        return nullptr;
    }
}

template <class T, class L>
PyObject* getter_trampoline(PyObject* self, void*) {
    try {
        auto* inst = reinterpret_cast<Instance<T>*>(self);
        ObjectBorrow guard(inst, kExclusive<L>);
        return py_result([&]() -> decltype(auto) { return L{}(inst->value()); }, Caller(self));
    } catch (...) {
        map_current_exception();
        return nullptr;
    }
}

template <class T, class L>
int setter_trampoline(PyObject* self, PyObject* value, void*) {
    try {
        if (!value) raise_type_error("can't delete attribute");
        auto* inst = reinterpret_cast<Instance<T>*>(self);
        ObjectBorrow guard(inst, true);
        using V = std::remove_cvref_t<std::tuple_element_t<1, typename FnTraits<L>::args>>;
        std::optional<V> v;
        try {
            v.emplace(ValueConv<V>::convert(value));
        } catch (PyErrSet&) {
            add_param_note("val");  // a setter's value is its argument 'val'
            throw;
        }
        Py_DECREF(py_result([&]() -> decltype(auto) { return L{}(inst->value(), std::move(*v)); }, Caller(self)));
        return 0;
    } catch (...) {
        map_current_exception();
        return -1;
    }
}

template <class T, class L>
PyObject* new_trampoline(PyTypeObject* tp, PyObject* args, PyObject* kwargs) {
    using Args = typename FnTraits<L>::args;
    try {
        PyObject* slots[kMaxParams + 1];
        match_tuple_dict(SigOf<L>::sig, args, kwargs, slots);
        // Conversions and checks, then the engine object; only then the instance.
        T value = unwrap(call_with(SigOf<L>::sig, slots, L{}, static_cast<Args*>(nullptr)));
        return new_instance_of(tp, std::move(value));
    } catch (...) {
        map_current_exception(SigOf<L>::sig.display);
        return nullptr;
    }
}

}  // namespace qel::py
