#include "bindings/frame/errors.hpp"

#include <stdexcept>

#include "types/format.hpp"

namespace qel::py {

void raise(PyObject* type, std::string_view msg) {
    PyObject* s = PyUnicode_FromStringAndSize(msg.data(), static_cast<Py_ssize_t>(msg.size()));
    if (s) {
        PyErr_SetObject(type, s);
        Py_DECREF(s);
    }
    throw PyErrSet{};
}

void raise_value_error(std::string_view msg) { raise(PyExc_ValueError, msg); }
void raise_type_error(std::string_view msg) { raise(PyExc_TypeError, msg); }
void raise_overflow_error(std::string_view msg) { raise(PyExc_OverflowError, msg); }
void raise_runtime_error(std::string_view msg) { raise(PyExc_RuntimeError, msg); }
void raise_memory_error(std::string_view msg) { raise(PyExc_MemoryError, msg); }

std::string type_name(PyObject* o) {
    PyObject* n = PyType_GetName(Py_TYPE(o));
    if (!n) {
        PyErr_Clear();
        return "?";
    }
    Py_ssize_t len = 0;
    const char* s = PyUnicode_AsUTF8AndSize(n, &len);
    std::string out = s ? std::string(s, static_cast<std::size_t>(len)) : "?";
    if (!s) PyErr_Clear();
    Py_DECREF(n);
    return out;
}

PyObject* panic_exception_type() {
    // Created on first use and never added to the module; derives from
    // BaseException so that `except Exception` does not swallow it.
    static PyObject* type = nullptr;
    if (!type)
        type = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", "An internal error of qel_kernel.",
                                         PyExc_BaseException, nullptr);
    return type;
}

namespace {

// threading.current_thread().name when threading is loaded, else the thread id.
std::string thread_label() {
    std::string fallback = text::cat("thread ", static_cast<std::uint64_t>(PyThread_get_thread_ident()));
    Obj modname(PyUnicode_FromString("threading"));
    Obj threading(modname ? PyImport_GetModule(modname.get()) : nullptr);
    Obj current(threading ? PyObject_CallMethod(threading.get(), "current_thread", nullptr) : nullptr);
    Obj name(current ? PyObject_GetAttrString(current.get(), "name") : nullptr);
    Py_ssize_t len = 0;
    const char* s = name && PyUnicode_Check(name.get()) ? PyUnicode_AsUTF8AndSize(name.get(), &len) : nullptr;
    if (!s) {
        PyErr_Clear();
        return fallback;
    }
    return text::cat("thread '", std::string_view(s, static_cast<std::size_t>(len)), "'");
}

// The path from the source tree's src/ on, or the whole path.
std::string_view short_path(std::string_view file) {
    std::size_t at = file.rfind("/src/");
    return at == std::string_view::npos ? file : file.substr(at + 1);
}

// Writes the failure report to sys.stderr; never raises, keeps any pending exception.
void report_failure(std::string_view msg, const std::source_location& where) {
    PyObject *t, *v, *tb;
    PyErr_Fetch(&t, &v, &tb);
    std::string line =
        text::cat("qel_kernel: internal error in ", thread_label(), " at ", short_path(where.file_name()), ":",
                  static_cast<std::uint64_t>(where.line()), ": ", msg, "\n");
    Obj s(PyUnicode_FromStringAndSize(line.data(), static_cast<Py_ssize_t>(line.size())));
    if (s) PySys_FormatStderr("%U", s.get());
    PyErr_Clear();
    PyErr_Restore(t, v, tb);
}

}  // namespace

void raise_panic(std::string_view msg, std::source_location where) {
    report_failure(msg, where);
    PyObject* t = panic_exception_type();
    if (!t) throw PyErrSet{};
    raise(t, msg);
}

PyObject* qel_err(const QelError& e) {
    std::string text = e.python_text();
    Obj s = Obj::check(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    return PyObject_CallFunctionObjArgs(PyExc_ValueError, s.get(), nullptr);
}

void raise_qel(const QelError& e) {
    // An engine that stopped for a pending KeyboardInterrupt returns an error
    // value; the interrupt is what the caller must see.
    if (PyErr_Occurred()) throw PyErrSet{};
    raise_value_error(e.python_text());
}

void add_param_note(std::string_view name, std::string_view detail) {
    PyObject *t, *v, *tb;
    PyErr_Fetch(&t, &v, &tb);
    if (!t) return;
    PyErr_NormalizeException(&t, &v, &tb);
    if (tb && v) PyException_SetTraceback(v, tb);
    if (v) {
        std::string note = text::cat("while processing '", name, "'", detail);
        PyObject* s = PyUnicode_FromStringAndSize(note.data(), static_cast<Py_ssize_t>(note.size()));
        PyObject* r = s ? PyObject_CallMethod(v, "add_note", "O", s) : nullptr;
        Py_XDECREF(s);
        if (r)
            Py_DECREF(r);
        else
            PyErr_Clear();
    }
    PyErr_Restore(t, v, tb);
}

void map_current_exception(std::string_view call) {
    // Each raise_* sets the exception and throws PyErrSet, caught right here.
    try {
        try {
            throw;
        } catch (PyErrSet&) {
            if (!PyErr_Occurred()) raise_panic("an error was reported without an exception");
        } catch (AllocationFailure& e) {
            std::string what =
                text::cat("could not allocate ", static_cast<std::uint64_t>(e.bytes()), " bytes for ", e.item());
            raise_memory_error(call.empty() ? what : text::cat("out of memory: ", call, " ", what));
        } catch (std::bad_alloc&) {
            raise_memory_error(call.empty() ? std::string("out of memory")
                                            : text::cat("out of memory: ", call, " could not allocate what it needs"));
        } catch (std::length_error&) {
            raise_memory_error(call.empty() ? std::string("out of memory: a size is too large")
                                            : text::cat("out of memory: ", call, " needs a size that is too large"));
        } catch (std::exception& e) {
            raise_panic(e.what());
        } catch (...) {
            raise_panic("unknown internal error");
        }
    } catch (PyErrSet&) {
    }
}

}  // namespace qel::py
