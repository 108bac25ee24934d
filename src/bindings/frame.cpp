#include "bindings/frame.hpp"

#include <bit>
#include <charconv>
#include <stdexcept>

#include "types/format.hpp"

namespace qel::py {

// ---------------------------------------------------------------------------
// Errors

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
void raise_out_of_range() { raise_overflow_error("out of range integral type conversion attempted"); }

PyObject* panic_exception_type() {
    // Created on first use and never added to the module; derives from
    // BaseException so that `except Exception` does not swallow it.
    static PyObject* type = nullptr;
    if (!type)
        type = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException",
                                         "An internal error of qel_kernel.", PyExc_BaseException, nullptr);
    return type;
}

void raise_panic(std::string_view msg) {
    PyObject* t = panic_exception_type();
    if (!t) throw PyErrSet{};
    raise(t, msg);
}

PyObject* qel_err(const QelError& e) {
    std::string text = e.python_text();
    Obj s = Obj::check(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    return PyObject_CallFunctionObjArgs(PyExc_ValueError, s.get(), nullptr);
}

void raise_qel(const QelError& e) { raise_value_error(e.python_text()); }

void add_param_note(std::string_view name) {
    PyObject *t, *v, *tb;
    PyErr_Fetch(&t, &v, &tb);
    if (!t) return;
    PyErr_NormalizeException(&t, &v, &tb);
    if (tb && v) PyException_SetTraceback(v, tb);
    if (v) {
        std::string note = "while processing '" + std::string(name) + "'";
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

void map_current_exception() {
    try {
        throw;
    } catch (PyErrSet&) {
        if (!PyErr_Occurred()) {
            try {
                raise_panic("an error was reported without an exception");
            } catch (PyErrSet&) {
            }
        }
    } catch (std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (std::length_error&) {
        PyErr_NoMemory();
    } catch (std::exception& e) {
        try {
            raise_panic(e.what());
        } catch (PyErrSet&) {
        }
    } catch (...) {
        try {
            raise_panic("unknown internal error");
        } catch (PyErrSet&) {
        }
    }
}

namespace {

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

[[noreturn]] void raise_cannot_convert(PyObject* o, const char* target) {
    raise_type_error("'" + type_name(o) + "' object cannot be converted to '" + target + "'");
}

}  // namespace

// ---------------------------------------------------------------------------
// NumPy

namespace numpy {

namespace {
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
}  // namespace

PyTypeObject* ndarray_type() { return static_cast<PyTypeObject*>(api()[2]); }

Obj new_array(int nd, const Py_ssize_t* dims, int type_num, void** data) {
    using NewFn = PyObject* (*)(PyTypeObject*, int, const Py_ssize_t*, int, const Py_ssize_t*, void*, int, int,
                                PyObject*);
    void** t = api();
    auto fn = reinterpret_cast<NewFn>(t[93]);
    Obj a = Obj::check(fn(static_cast<PyTypeObject*>(t[2]), nd, dims, type_num, nullptr, nullptr, 0, 0, nullptr));
    *data = reinterpret_cast<ArrayFields*>(a.get())->data;
    return a;
}

}  // namespace numpy

// ---------------------------------------------------------------------------
// Arrays

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
            raise_value_error("array '" + std::string(name) + "' shares memory with an array that is borrowed" +
                              (write || e.write ? " for writing" : ""));
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
    if (!PyObject_TypeCheck(obj, numpy::ndarray_type())) return "an object of type " + type_name(obj);
    auto* a = reinterpret_cast<numpy::ArrayFields*>(obj);
    if (a->nd != 1) return "an array of dimension " + std::to_string(a->nd);
    const numpy::DescrFields* d = a->descr;
    if (d->byteorder == '>') return "a byte-swapped array";
    if (std::strchr(types, d->type) == nullptr || d->type == '\0') {
        Obj dtype(PyObject_GetAttrString(obj, "dtype"));
        Obj text(dtype ? PyObject_Str(dtype.get()) : nullptr);
        Py_ssize_t len = 0;
        const char* s = text ? PyUnicode_AsUTF8AndSize(text.get(), &len) : nullptr;
        if (!s) PyErr_Clear();
        return "an array of dtype " + (s ? std::string(s, static_cast<std::size_t>(len)) : std::string("?"));
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
    auto* a = reinterpret_cast<numpy::ArrayFields*>(obj_);
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

void ArrayHolder::finish(std::string_view name, const char* contiguity_msg, bool write) {
    capture();
    if (len_ > 0 && !contiguous()) raise_value_error(contiguity_msg);
    if (write && !writeable_) raise_value_error("array '" + std::string(name) + "' is read-only");
    if (len_ > 0) borrow_.acquire(data_, len_ * itemsize_, write, name);
}

NewArray2D NewArray2D::alloc(std::size_t rows, std::size_t cols) {
    if (rows > static_cast<std::size_t>(PY_SSIZE_T_MAX) || cols > static_cast<std::size_t>(PY_SSIZE_T_MAX) ||
        (cols != 0 && rows > static_cast<std::size_t>(PY_SSIZE_T_MAX) / sizeof(double) / cols))
        throw std::bad_alloc();
    NewArray2D a;
    Py_ssize_t dims[2] = {static_cast<Py_ssize_t>(rows), static_cast<Py_ssize_t>(cols)};
    void* data = nullptr;
    a.array = numpy::new_array(2, dims, numpy::Float64, &data);
    a.ptr = static_cast<double*>(data);
    a.rows = rows;
    a.cols = cols;
    return a;
}

// ---------------------------------------------------------------------------
// Value converters

double to_double(PyObject* o) {
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) throw PyErrSet{};
    return v;
}

namespace {
Obj as_index(PyObject* o) {
    if (PyLong_Check(o)) return Obj::borrow(o);
    if (!PyIndex_Check(o)) raise_type_error("'" + type_name(o) + "' object cannot be interpreted as an integer");
    return Obj::check(PyNumber_Index(o));
}
}  // namespace

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
    raise_cannot_convert(o, "PyBool");
}

std::string to_string(PyObject* o) {
    if (!PyUnicode_Check(o)) raise_cannot_convert(o, "PyString");
    Py_ssize_t len = 0;
    const char* s = PyUnicode_AsUTF8AndSize(o, &len);
    if (!s) throw PyErrSet{};
    return std::string(s, static_cast<std::size_t>(len));
}

void for_each_item(PyObject* o, const char* target, void (*f)(PyObject*, void*), void* ctx) {
    if (PyUnicode_Check(o)) raise_type_error(std::string("Can't extract `str` to `") + target + "`");
    if (!PySequence_Check(o)) raise_cannot_convert(o, "Sequence");
    Py_ssize_t n = PySequence_Size(o);
    if (n < 0) throw PyErrSet{};
    for (Py_ssize_t i = 0; i < n; ++i) {
        Obj item = Obj::check(PySequence_GetItem(o, i));
        f(item.get(), ctx);
    }
}

void check_tuple(PyObject* o, Py_ssize_t n) {
    if (!PyTuple_Check(o)) raise_cannot_convert(o, "PyTuple");
    Py_ssize_t m = PyTuple_Size(o);
    if (m != n)
        raise_value_error("expected tuple of length " + std::to_string(n) + ", but got tuple of length " +
                          std::to_string(m));
}

void check_dict(PyObject* o) {
    if (!PyDict_Check(o)) raise_cannot_convert(o, "PyDict");
}

// ---------------------------------------------------------------------------
// Results

PyObject* to_py_double(double v) { return PyFloat_FromDouble(v); }

PyObject* to_py_string(std::string_view s) {
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

Dict::Dict() : d_(Obj::check(PyDict_New())) {}

void Dict::set_obj(std::string_view key, Obj value) {
    Obj k = Obj::check(to_py_string(key));
    if (PyDict_SetItem(d_.get(), k.get(), value.get()) != 0) throw PyErrSet{};
}

// ---------------------------------------------------------------------------
// Object borrows

ObjectBorrow::ObjectBorrow(InstanceBase* inst, bool exclusive) : inst_(inst), exclusive_(exclusive) {
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

// ---------------------------------------------------------------------------
// Signatures and argument matching

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\n')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

Obj parse_default(std::string_view lit) {
    if (lit == "None") return Obj::borrow(Py_None);
    if (lit == "True") return Obj::borrow(Py_True);
    if (lit == "False") return Obj::borrow(Py_False);
    if (lit.size() >= 2 && (lit.front() == '"' || lit.front() == '\'') && lit.back() == lit.front()) {
        std::string out;
        for (std::size_t i = 1; i + 1 < lit.size(); ++i) {
            if (lit[i] == '\\' && i + 2 < lit.size()) ++i;
            out.push_back(lit[i]);
        }
        return Obj::check(to_py_string(out));
    }
    bool integral = lit.find_first_of(".eEn") == std::string_view::npos;
    if (integral) {
        long long v = 0;
        auto r = std::from_chars(lit.data(), lit.data() + lit.size(), v);
        if (r.ec == std::errc() && r.ptr == lit.data() + lit.size()) return Obj::check(PyLong_FromLongLong(v));
    } else {
        double v = 0;
        auto r = std::from_chars(lit.data(), lit.data() + lit.size(), v);
        if (r.ec == std::errc() && r.ptr == lit.data() + lit.size()) return Obj::check(PyFloat_FromDouble(v));
    }
    throw std::logic_error("unsupported default in text signature: " + std::string(lit));
}

}  // namespace

Signature Signature::parse(std::string_view text_sig, std::string_view display) {
    Signature sig;
    sig.display = std::string(display);
    std::size_t open = text_sig.find('('), close = text_sig.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        throw std::logic_error("malformed text signature: " + std::string(text_sig));
    std::string_view body = text_sig.substr(open + 1, close - open - 1);
    std::vector<std::string_view> parts;
    int depth = 0;
    char quote = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < body.size(); ++i) {
        char c = body[i];
        if (quote) {
            if (c == '\\') ++i;
            else if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '(' || c == '[' || c == '{') {
            ++depth;
        } else if (c == ')' || c == ']' || c == '}') {
            --depth;
        } else if (c == ',' && depth == 0) {
            parts.push_back(body.substr(start, i - start));
            start = i + 1;
        }
    }
    if (!trim(body.substr(start)).empty()) parts.push_back(body.substr(start));
    bool seen_default = false;
    for (std::string_view p : parts) {
        p = trim(p);
        if (p.empty() || p.front() == '$' || p == "/" || p == "*") continue;
        std::size_t eq = p.find('=');
        std::string name(trim(p.substr(0, eq)));
        sig.names.push_back(name);
        sig.names_py.push_back(Obj::check(PyUnicode_InternFromString(name.c_str())));
        if (eq == std::string_view::npos) {
            if (seen_default) throw std::logic_error("required parameter after a default: " + name);
            sig.defaults.emplace_back();
            ++sig.n_required;
        } else {
            seen_default = true;
            sig.defaults.push_back(parse_default(trim(p.substr(eq + 1))));
        }
    }
    if (sig.names.size() > kMaxParams) throw std::logic_error("too many parameters: " + sig.display);
    return sig;
}

namespace {

std::string plural(std::size_t n, const char* one, const char* many) { return n == 1 ? one : many; }

[[noreturn]] void raise_too_many(const Signature& sig, std::size_t given) {
    std::size_t n = sig.names.size();
    std::string msg = sig.display + " takes ";
    if (sig.n_required == n)
        msg += std::to_string(n) + " positional " + plural(n, "argument", "arguments");
    else
        msg += "from " + std::to_string(sig.n_required) + " to " + std::to_string(n) + " positional arguments";
    msg += " but " + std::to_string(given) + " " + plural(given, "was", "were") + " given";
    raise_type_error(msg);
}

void place_keyword(const Signature& sig, PyObject* key, PyObject* value, PyObject** out) {
    std::size_t n = sig.names.size();
    std::size_t j = n;
    for (std::size_t k = 0; k < n; ++k)
        if (sig.names_py[k].get() == key) {
            j = k;
            break;
        }
    if (j == n) {
        for (std::size_t k = 0; k < n; ++k) {
            int eq = PyUnicode_Compare(sig.names_py[k].get(), key);
            if (eq == -1 && PyErr_Occurred()) throw PyErrSet{};
            if (eq == 0) {
                j = k;
                break;
            }
        }
    }
    if (j == n) {
        Py_ssize_t len = 0;
        const char* s = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &len) : nullptr;
        if (!s) PyErr_Clear();
        raise_type_error(sig.display + " got an unexpected keyword argument '" +
                         (s ? std::string(s, static_cast<std::size_t>(len)) : std::string("?")) + "'");
    }
    if (out[j]) raise_type_error(sig.display + " got multiple values for argument '" + sig.names[j] + "'");
    out[j] = value;
}

void fill_defaults(const Signature& sig, PyObject** out) {
    std::vector<const std::string*> missing;
    for (std::size_t j = 0; j < sig.names.size(); ++j) {
        if (out[j]) continue;
        if (j < sig.n_required)
            missing.push_back(&sig.names[j]);
        else
            out[j] = sig.defaults[j].get();
    }
    if (missing.empty()) return;
    std::size_t m = missing.size();
    std::string list;
    for (std::size_t i = 0; i < m; ++i) {
        if (i > 0) list += (m == 2) ? " and " : (i + 1 == m ? ", and " : ", ");
        list += "'" + *missing[i] + "'";
    }
    raise_type_error(sig.display + " missing " + std::to_string(m) + " required positional " +
                     plural(m, "argument", "arguments") + ": " + list);
}

}  // namespace

void match_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    PyObject** out) {
    std::size_t n = sig.names.size();
    if (static_cast<std::size_t>(nargs) > n) raise_too_many(sig, static_cast<std::size_t>(nargs));
    for (std::size_t j = 0; j < n; ++j) out[j] = j < static_cast<std::size_t>(nargs) ? args[j] : nullptr;
    if (kwnames) {
        Py_ssize_t nk = PyTuple_Size(kwnames);
        for (Py_ssize_t i = 0; i < nk; ++i) place_keyword(sig, PyTuple_GetItem(kwnames, i), args[nargs + i], out);
    }
    fill_defaults(sig, out);
}

void match_tuple_dict(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out) {
    std::size_t n = sig.names.size();
    Py_ssize_t nargs = args ? PyTuple_Size(args) : 0;
    if (static_cast<std::size_t>(nargs) > n) raise_too_many(sig, static_cast<std::size_t>(nargs));
    for (std::size_t j = 0; j < n; ++j)
        out[j] = j < static_cast<std::size_t>(nargs) ? PyTuple_GetItem(args, static_cast<Py_ssize_t>(j)) : nullptr;
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject *k, *v;
        while (PyDict_Next(kwargs, &pos, &k, &v)) place_keyword(sig, k, v, out);
    }
    fill_defaults(sig, out);
}

// ---------------------------------------------------------------------------
// Registration

std::string make_doc(std::string_view sig, std::string_view doc) {
    if (sig.empty()) return std::string(doc);
    std::string out(sig);
    out += "\n--\n\n";
    out += doc;
    return out;
}

const char* ClassDef::keep(std::string s) {
    strings_.push_back(std::move(s));
    return strings_.back().c_str();
}

FunctionDef& Module::add_function(const char* name, std::string doc) {
    if (functions.count(name)) throw std::logic_error(std::string("function registered twice: ") + name);
    auto* f = new FunctionDef();  // lives as long as the process: the function objects point at it
    f->name = name;
    f->doc = std::move(doc);
    f->def.ml_name = f->name.c_str();
    f->def.ml_flags = METH_FASTCALL | METH_KEYWORDS;
    f->def.ml_doc = f->doc.c_str();
    functions.emplace(f->name, f);
    return *f;
}

ClassDef& Module::class_def(const char* name) {
    auto it = classes.find(std::string_view(name));
    if (it != classes.end()) return *it->second;
    auto* c = new ClassDef();  // the type object keeps pointers into it
    c->name = name;
    classes.emplace(c->name, c);
    return *c;
}

ClassDef& Module::add_class(const char* name, std::string doc, std::size_t basicsize, PyTypeObject** slot) {
    ClassDef& c = class_def(name);
    if (c.basicsize != 0) throw std::logic_error(std::string("class declared twice: ") + name);
    c.doc = std::move(doc);
    c.basicsize = basicsize;
    c.type_slot = slot;
    return c;
}

std::vector<RegisterFn>& registrars() {
    static std::vector<RegisterFn> r;
    return r;
}

Registrar::Registrar(RegisterFn f) { registrars().push_back(f); }

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
