// Errors inside the frame and owned references. A C++ exception never crosses
// into Python: every entry point catches and maps.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <source_location>
#include <string>
#include <string_view>
#include <utility>

#include "types/error.hpp"
#include "types/failure.hpp"

namespace qel::py {

// Thrown once a Python exception has been set.
struct PyErrSet {};

[[noreturn]] void raise(PyObject* type, std::string_view msg);
[[noreturn]] void raise_value_error(std::string_view msg);
[[noreturn]] void raise_type_error(std::string_view msg);
[[noreturn]] void raise_overflow_error(std::string_view msg);
[[noreturn]] void raise_runtime_error(std::string_view msg);
[[noreturn]] void raise_memory_error(std::string_view msg);
// The internal-error exception, pyo3_runtime.PanicException. The one way it is
// raised: a short report (thread, source location, message) goes to standard
// error first.
[[noreturn]] void raise_panic(std::string_view msg, std::source_location where = std::source_location::current());
[[noreturn]] inline void raise_internal(const InternalError& e) { raise_panic(e.message, e.where); }
PyObject* panic_exception_type();
// A QelError as ValueError with its prefix; raise_qel raises instead any
// exception already pending (see raise_error).
PyObject* qel_err(const QelError& e);
[[noreturn]] void raise_qel(const QelError& e);
// Adds "while processing '<name>'", followed by `detail`, to the pending exception.
void add_param_note(std::string_view name, std::string_view detail = {});
// Sets the Python exception for the C++ exception being handled; for catch
// (...). `call` names the call in a MemoryError that knows nothing better.
void map_current_exception(std::string_view call = {});

// The name of an object's type, for messages ("dict", "ndarray").
std::string type_name(PyObject* o);

// Owned reference.
class Obj {
public:
    Obj() = default;
    explicit Obj(PyObject* p) : p_(p) {}  // steals
    static Obj borrow(PyObject* p) {
        Py_XINCREF(p);
        return Obj(p);
    }
    static Obj check(PyObject* p) {  // steals, throws if null
        if (!p) throw PyErrSet{};
        return Obj(p);
    }
    Obj(const Obj&) = delete;
    Obj& operator=(const Obj&) = delete;
    Obj(Obj&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Obj& operator=(Obj&& o) noexcept {
        if (this != &o) {
            Py_XDECREF(p_);
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    ~Obj() { Py_XDECREF(p_); }
    PyObject* get() const { return p_; }
    PyObject* release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    PyObject* p_ = nullptr;
};

}  // namespace qel::py
