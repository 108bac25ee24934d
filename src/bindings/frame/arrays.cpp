#include "bindings/frame/arrays.hpp"

#include <bit>
#include <cstring>

#include "types/format.hpp"

namespace qel::py {

namespace numpy {

namespace {

// The parts of NumPy's array and dtype object layouts that NumPy's own C API
// macros read; the same in NumPy 1.x and 2.x.
struct DescrFields {
    PyObject ob_base;
    PyTypeObject* typeobj;
    char kind;
    char type;
    char byteorder;
    char flags;
    int type_num;
};
struct ArrayFields {
    PyObject ob_base;
    char* data;
    int nd;
    Py_ssize_t* dimensions;
    Py_ssize_t* strides;
    PyObject* base;
    DescrFields* descr;
    int flags;
};
constexpr int kWriteable = 0x0400;

void** api_table = nullptr;

void** api() {
    if (api_table) return api_table;
    PyObject* mod = PyImport_ImportModule("numpy._core._multiarray_umath");
    if (!mod) {
        PyErr_Clear();
        mod = PyImport_ImportModule("numpy.core._multiarray_umath");
    }
    if (!mod) throw PyErrSet{};
    Obj m(mod);
    Obj cap = Obj::check(PyObject_GetAttrString(mod, "_ARRAY_API"));
    void* table = PyCapsule_GetPointer(cap.get(), nullptr);
    if (!table) throw PyErrSet{};
    api_table = static_cast<void**>(table);
    return api_table;
}

ArrayFields* fields(PyObject* o) { return reinterpret_cast<ArrayFields*>(o); }

}  // namespace

PyTypeObject* ndarray_type() { return static_cast<PyTypeObject*>(api()[2]); }

Obj new_array(int nd, const Py_ssize_t* dims, int type_num, void** data) {
    using NewFn =
        PyObject* (*)(PyTypeObject*, int, const Py_ssize_t*, int, const Py_ssize_t*, void*, int, int, PyObject*);
    void** t = api();
    auto fn = reinterpret_cast<NewFn>(t[93]);
    Obj a = Obj::check(fn(static_cast<PyTypeObject*>(t[2]), nd, dims, type_num, nullptr, nullptr, 0, 0, nullptr));
    *data = fields(a.get())->data;
    return a;
}

}  // namespace numpy

namespace {
struct BorrowEntry {
    std::size_t id;
    std::uintptr_t lo, hi;
    bool write;
};
std::vector<BorrowEntry>& borrow_registry() {
    static std::vector<BorrowEntry> r;
    return r;
}
std::size_t next_borrow_id = 1;
}  // namespace

void ArrayBorrow::acquire(const void* lo, std::size_t bytes, bool write, std::string_view name) {
    auto& reg = borrow_registry();
    std::uintptr_t a = reinterpret_cast<std::uintptr_t>(lo), b = a + bytes;
    for (const BorrowEntry& e : reg) {
        if (a < e.hi && e.lo < b && (write || e.write))
            raise_value_error(text::cat("array '", name, "' shares memory with an array that is borrowed",
                                        write || e.write ? " for writing" : ""));
    }
    id_ = next_borrow_id++;
    reg.push_back({id_, a, b, write});
}

void ArrayBorrow::release() {
    if (!id_) return;
    auto& reg = borrow_registry();
    for (auto it = reg.begin(); it != reg.end(); ++it) {
        if (it->id == id_) {
            reg.erase(it);
            break;
        }
    }
    id_ = 0;
}

ArrayHolder::~ArrayHolder() {
    borrow_.release();
    Py_XDECREF(obj_);
}

namespace {
static_assert(std::endian::native == std::endian::little, "byte-order test assumes a little-endian host");

// Empty when the object is a one-dimensional native-order ndarray whose type
// character is in `types`; otherwise what it is instead.
std::string array_mismatch(PyObject* obj, const char* types) {
    if (!PyObject_TypeCheck(obj, numpy::ndarray_type())) return type_name(obj);
    auto* a = numpy::fields(obj);
    if (a->nd != 1) return text::cat("an array of dimension ", a->nd);
    const numpy::DescrFields* d = a->descr;
    if (d->byteorder == '>') return "a byte-swapped array";
    if (std::strchr(types, d->type) == nullptr || d->type == '\0') {
        Obj dtype(PyObject_GetAttrString(obj, "dtype"));
        Obj text(dtype ? PyObject_Str(dtype.get()) : nullptr);
        Py_ssize_t len = 0;
        const char* s = text ? PyUnicode_AsUTF8AndSize(text.get(), &len) : nullptr;
        if (!s) PyErr_Clear();
        return text::cat("an array of dtype ", s ? std::string_view(s, static_cast<std::size_t>(len)) : "?");
    }
    return {};
}
}  // namespace

void ArrayHolder::convert(PyObject* obj, const char* types, std::size_t itemsize, const char* what) {
    std::string why = array_mismatch(obj, types);
    if (!why.empty()) raise_type_error(text::cat("expected a one-dimensional ", what, " NumPy array, got ", why));
    Py_INCREF(obj);
    obj_ = obj;
    types_ = types;
    what_ = what;
    itemsize_ = itemsize;
}

void ArrayHolder::capture() {
    // Conversions of later arguments may have run Python code that reshaped
    // or retyped this array: check it again before trusting its layout.
    std::string why = array_mismatch(obj_, types_);
    if (!why.empty())
        raise_type_error(text::cat("expected a one-dimensional ", what_, " NumPy array, got ", why,
                                   " (changed during argument conversion)"));
    auto* a = numpy::fields(obj_);
    data_ = a->data;
    len_ = static_cast<std::size_t>(a->dimensions[0]);
    stride_ = a->strides[0];
    writeable_ = (a->flags & numpy::kWriteable) != 0;
}

bool ArrayHolder::contiguous() const {
    if (!data_) return false;
    if (reinterpret_cast<std::uintptr_t>(data_) % itemsize_ != 0) return false;
    return len_ <= 1 || static_cast<std::size_t>(stride_) == itemsize_;
}

void ArrayHolder::copy_elements(void* out) const {
    char* dst = static_cast<char*>(out);
    // memcpy per element: a misaligned element is read without UB.
    for (std::size_t i = 0; i < len_; ++i)
        std::memcpy(dst + i * itemsize_, data_ + static_cast<Py_ssize_t>(i) * stride_, itemsize_);
}

namespace {

// The refusal of a strided or misaligned array keeps its message; a note names
// the parameter and the copy that the call accepts (a column of a 2-D array is
// the usual way to get here).
[[noreturn]] void refuse_layout(const char* msg, std::string_view name, bool strided) {
    try {
        raise_value_error(msg);
    } catch (PyErrSet&) {
        add_param_note(name,
                       strided ? text::cat(": np.ascontiguousarray(", name, ") makes a copy that this function accepts")
                               : text::cat(": the array is misaligned; ", name,
                                           ".copy() makes an aligned copy that this function accepts"));
        throw;
    }
}

}  // namespace

void ArrayHolder::capture(std::string_view name) {
    try {
        capture();
    } catch (PyErrSet&) {
        add_param_note(name);  // as for a failure of the conversion itself
        throw;
    }
}

void ArrayHolder::finish(std::string_view name, const char* contiguity_msg, bool write) {
    capture(name);
    if (len_ > 0 && !contiguous())
        refuse_layout(contiguity_msg, name, len_ > 1 && static_cast<std::size_t>(stride_) != itemsize_);
    if (write && !writeable_) raise_value_error(text::cat("array '", name, "' is read-only"));
    if (len_ > 0) borrow_.acquire(data_, len_ * itemsize_, write, name);
}

bool copy_f64_ndarray(PyObject* o, std::vector<double>& out) {
    // Lists and tuples never are arrays, and must not import NumPy.
    if (PyList_Check(o) || PyTuple_Check(o) || PyUnicode_Check(o)) return false;
    if (Py_TYPE(o) != numpy::ndarray_type() || !array_mismatch(o, "d").empty()) return false;
    ArrayHolder h;
    h.convert(o, "d", sizeof(double), "float64");
    h.capture();
    out.resize(h.len());
    h.copy_elements(out.data());
    return true;
}

}  // namespace qel::py
