#include "bindings/frame/convert.hpp"

#include "types/format.hpp"

namespace qel::py {

namespace {
[[noreturn]] void raise_expected(std::string_view what, PyObject* got) {
    raise_type_error(text::cat("expected ", what, ", got ", type_name(got)));
}

Obj as_index(PyObject* o) {
    if (PyLong_Check(o)) return Obj::borrow(o);
    if (!PyIndex_Check(o)) raise_type_error("'" + type_name(o) + "' object cannot be interpreted as an integer");
    return Obj::check(PyNumber_Index(o));
}
}  // namespace

void raise_out_of_range() { raise_overflow_error("out of range integral type conversion attempted"); }

double to_double(PyObject* o) {
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) throw PyErrSet{};
    return v;
}

std::uint64_t to_u64(PyObject* o) {
    Obj i = as_index(o);
    unsigned long long v = PyLong_AsUnsignedLongLong(i.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PyErrSet{};
    return v;
}

std::int64_t to_i64(PyObject* o) {
    Obj i = as_index(o);
    long long v = PyLong_AsLongLong(i.get());
    if (v == -1 && PyErr_Occurred()) throw PyErrSet{};
    return v;
}

std::int64_t to_narrow(PyObject* o, std::int64_t lo, std::int64_t hi) {
    Obj i = as_index(o);
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(i.get(), &overflow);
    if (v == -1 && !overflow && PyErr_Occurred()) throw PyErrSet{};
    if (overflow || v < lo || v > hi) raise_out_of_range();
    return v;
}

bool to_bool(PyObject* o) {
    if (o == Py_True) return true;
    if (o == Py_False) return false;
    std::string name = type_name(o);
    if (name == "bool_" || name == "bool") {
        Obj mod(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(o)), "__module__"));
        if (!mod) PyErr_Clear();
        Py_ssize_t len = 0;
        const char* s = mod ? PyUnicode_AsUTF8AndSize(mod.get(), &len) : nullptr;
        if (!s) PyErr_Clear();
        if (s && std::string_view(s, static_cast<std::size_t>(len)) == "numpy") {
            int t = PyObject_IsTrue(o);
            if (t < 0) throw PyErrSet{};
            return t != 0;
        }
    }
    raise_expected("bool", o);
}

std::string to_string(PyObject* o) {
    if (!PyUnicode_Check(o)) raise_expected("str", o);
    Py_ssize_t len = 0;
    const char* s = PyUnicode_AsUTF8AndSize(o, &len);
    if (!s) throw PyErrSet{};
    return std::string(s, static_cast<std::size_t>(len));
}

void for_each_item(PyObject* o, std::string (*what)(bool), void (*f)(PyObject*, void*), void* ctx) {
    if (PyUnicode_Check(o)) raise_type_error("Can't extract `str` to `Vec`");
    if (!PySequence_Check(o)) raise_expected(what(false), o);
    Py_ssize_t n = PySequence_Size(o);
    if (n < 0) throw PyErrSet{};
    for (Py_ssize_t i = 0; i < n; ++i) {
        Obj item = Obj::check(PySequence_GetItem(o, i));
        f(item.get(), ctx);
    }
}

void check_tuple(PyObject* o, Py_ssize_t n) {
    if (!PyTuple_Check(o)) raise_expected(text::cat("a tuple of ", static_cast<std::int64_t>(n), " items"), o);
    Py_ssize_t m = PyTuple_Size(o);
    if (m != n)
        raise_value_error(text::cat("expected tuple of length ", static_cast<std::int64_t>(n),
                                    ", but got tuple of length ", static_cast<std::int64_t>(m)));
}

void check_dict(PyObject* o, std::string (*what)(bool)) {
    if (!PyDict_Check(o)) raise_expected(what(false), o);
}

}  // namespace qel::py
