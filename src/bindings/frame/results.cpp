#include "bindings/frame/results.hpp"

#include "engine/util/checked.hpp"
#include "types/format.hpp"

namespace qel::py {

Obj alloc_array(int nd, const std::size_t* dims, std::size_t itemsize, int type_num, void** data) {
    Py_ssize_t pydims[2] = {0, 0};
    std::optional<std::size_t> bytes = itemsize;
    for (int i = 0; i < nd; ++i) {
        if (bytes) bytes = checked_mul(*bytes, dims[i]);
        pydims[i] = static_cast<Py_ssize_t>(dims[i]);
    }
    if (!bytes || *bytes > static_cast<std::size_t>(PY_SSIZE_T_MAX)) {
        std::string shape = text::cat(static_cast<std::uint64_t>(dims[0]));
        if (nd == 2) shape = text::cat(shape, " x ", static_cast<std::uint64_t>(dims[1]));
        raise_memory_error(text::cat("cannot allocate a result array of ", shape, " items of ",
                                     static_cast<std::uint64_t>(itemsize), " bytes: too large"));
    }
    return numpy::new_array(nd, pydims, type_num, data);
}

NewArray2D NewArray2D::alloc(std::size_t rows, std::size_t cols) {
    NewArray2D a;
    const std::size_t dims[2] = {rows, cols};
    void* data = nullptr;
    a.array = alloc_array(2, dims, sizeof(double), numpy::Float64, &data);
    a.ptr = static_cast<double*>(data);
    a.rows = rows;
    a.cols = cols;
    return a;
}

PyObject* to_py_double(double v) { return PyFloat_FromDouble(v); }

PyObject* to_py_string(std::string_view s) {
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

Dict::Dict() : d_(Obj::check(PyDict_New())) {}

void Dict::set_obj(std::string_view key, Obj value) {
    Obj k = Obj::check(to_py_string(key));
    if (PyDict_SetItem(d_.get(), k.get(), value.get()) != 0) throw PyErrSet{};
}

namespace {
// See raise_qel.
void raise_pending() {
    if (PyErr_Occurred()) throw PyErrSet{};
}
}  // namespace

void raise_error(const QelError& e) { raise_qel(e); }

void raise_error(const PlainError& e) {
    raise_pending();
    if (e.internal) raise_panic(e.message, e.where);
    raise_value_error(e.message);
}

void raise_error(const InternalError& e) {
    raise_pending();
    raise_internal(e);
}

}  // namespace qel::py
