// Parameter converters: convert() during conversion, finish() afterwards in
// parameter order (contiguity tests and borrows), get() for the lambda.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bindings/frame/convert.hpp"

namespace qel::py {

template <class T>
struct Arg {
    std::optional<T> v;
    void convert(PyObject* o) { v.emplace(ValueConv<T>::convert(o)); }
    void finish(std::string_view) {}
    T get() { return std::move(*v); }
};

template <class T>
struct ArrayTraits;
template <>
struct ArrayTraits<double> {
    static constexpr const char* formats = "d";
    static constexpr const char* what = "float64";
};
template <>
struct ArrayTraits<std::int64_t> {
    static constexpr const char* formats = "lq";
    static constexpr const char* what = "int64";
};
template <>
struct ArrayTraits<std::uint8_t> {
    static constexpr const char* formats = "B";
    static constexpr const char* what = "uint8";
};
template <>
struct ArrayTraits<std::size_t> {
    static constexpr const char* formats = "LQ";
    static constexpr const char* what = "uintp";
};

template <class T>
void convert_array(ArrayHolder& h, PyObject* o) {
    h.convert(o, ArrayTraits<T>::formats, sizeof(T), ArrayTraits<T>::what);
}

template <class T>
struct Arg<ArrayRef<T>> {
    ArrayHolder h;
    void convert(PyObject* o) { convert_array<T>(h, o); }
    void finish(std::string_view name) { h.finish(name, kNotContiguous, false); }
    ArrayRef<T> get() { return {static_cast<const T*>(h.data()), h.len()}; }
};
template <class T>
struct Arg<ArrayMut<T>> {
    ArrayHolder h;
    void convert(PyObject* o) { convert_array<T>(h, o); }
    void finish(std::string_view name) { h.finish(name, kNotContiguous, true); }
    ArrayMut<T> get() { return {static_cast<T*>(h.data()), h.len()}; }
};
template <Literal Msg>
struct Arg<CopiedF64<Msg>> {
    ArrayHolder h;
    std::vector<double> copy;
    void convert(PyObject* o) { convert_array<double>(h, o); }
    void finish(std::string_view name) {
        // Held for reading until the call ends, so that no argument of the
        // same call may write over it.
        h.finish(name, Msg.text, false);
        const double* p = static_cast<const double*>(h.data());
        copy.assign(p, p + h.len());
    }
    CopiedF64<Msg> get() { return {std::move(copy)}; }
};
template <>
struct Arg<F64Elements> {
    ArrayHolder h;
    std::vector<double> copy;
    void convert(PyObject* o) { convert_array<double>(h, o); }
    void finish(std::string_view name) {
        h.capture(name);
        copy.resize(h.len());
        h.copy_elements(copy.data());
    }
    F64Elements get() { return {std::move(copy)}; }
};
template <>
struct Arg<std::optional<F64Elements>> {
    std::optional<Arg<F64Elements>> inner;
    void convert(PyObject* o) {
        if (o == Py_None) return;
        inner.emplace();
        inner->convert(o);
    }
    void finish(std::string_view name) {
        if (inner) inner->finish(name);
    }
    std::optional<F64Elements> get() {
        if (!inner) return std::nullopt;
        return inner->get();
    }
};

// An array argument whose contiguity test and borrow the wrapper runs itself,
// by calling finish(): for a method whose array tests run in another order than
// the parameters. Converted in parameter order like any other argument.
template <class A>
struct Deferred;
template <class T>
struct Deferred<ArrayRef<T>> {
    ArrayHolder* h = nullptr;
    const char* name = "";
    ArrayRef<T> finish() const {
        h->finish(name, kNotContiguous, false);
        return {static_cast<const T*>(h->data()), h->len()};
    }
};
template <class T>
struct Deferred<ArrayMut<T>> {
    ArrayHolder* h = nullptr;
    const char* name = "";
    ArrayMut<T> finish() const {
        h->finish(name, kNotContiguous, true);
        return {static_cast<T*>(h->data()), h->len()};
    }
};
template <class A>
struct Arg<Deferred<A>> {
    ArrayHolder h;
    std::string name;
    void convert(PyObject* o) {
        using T = std::remove_const_t<std::remove_pointer_t<decltype(A{}.data())>>;
        convert_array<T>(h, o);
    }
    void finish(std::string_view n) { name.assign(n); }
    Deferred<A> get() { return {&h, name.c_str()}; }
};

}  // namespace qel::py
