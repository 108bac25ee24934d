// The binding frame: argument matching, conversions, borrows, error mapping
// and registration, shared by every wrapper. A wrapper is its text signature
// and one call into the engine:
//
//     QEL_BINDINGS(order_params) {
//         m.function("plv", "plv(phases_a, phases_b)", "",
//                    [](F64Array a, F64Array b) { return order_params::plv(a.span(), b.span()); });
//     }
//
// The lambda's parameter types pick the converters, in parameter order; the
// names and defaults come from the text signature. Its result is turned into
// Python objects by to_py (numbers, strings, tuples, vectors as lists,
// optionals, NewArray, Dict, New<T>, Obj, Result<T, QelError|PlainError>).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <new>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "types/error.hpp"

namespace qel::py {

// ---------------------------------------------------------------------------
// Errors inside the frame. A C++ exception never crosses into Python: every
// entry point catches and maps.

// Thrown once a Python exception has been set.
struct PyErrSet {};

[[noreturn]] void raise(PyObject* type, std::string_view msg);
[[noreturn]] void raise_value_error(std::string_view msg);
[[noreturn]] void raise_type_error(std::string_view msg);
[[noreturn]] void raise_overflow_error(std::string_view msg);
[[noreturn]] void raise_runtime_error(std::string_view msg);
// The internal-error exception, pyo3_runtime.PanicException.
[[noreturn]] void raise_panic(std::string_view msg);
PyObject* panic_exception_type();
// A QelError as ValueError with its prefix.
PyObject* qel_err(const QelError& e);
[[noreturn]] void raise_qel(const QelError& e);
// Adds "while processing '<name>'" to the pending exception.
void add_param_note(std::string_view name);
// Sets the Python exception for the C++ exception being handled; for catch (...).
void map_current_exception();

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

// ---------------------------------------------------------------------------
// NumPy, fetched on the first call that touches an array.
namespace numpy {
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
inline constexpr int kWriteable = 0x0400;
enum TypeNum : int { UInt8 = 2, Int32 = 5, Int64 = 7, UInt64 = 8, Float64 = 12 };
PyTypeObject* ndarray_type();  // imports NumPy on first use
// New writeable C-contiguous array owning its data; returns its data pointer.
Obj new_array(int nd, const Py_ssize_t* dims, int type_num, void** data);
}  // namespace numpy

// ---------------------------------------------------------------------------
// Array arguments. The lambda receives these plain views; the frame owns the
// buffer and the borrow until the call returns.

template <class T>
struct ArrayRef {
    const T* ptr = nullptr;
    std::size_t len = 0;
    std::span<const T> span() const { return {ptr, len}; }
    std::size_t size() const { return len; }
    bool empty() const { return len == 0; }
    const T* data() const { return ptr; }
    const T& operator[](std::size_t i) const { return ptr[i]; }
};

template <class T>
struct ArrayMut {
    T* ptr = nullptr;
    std::size_t len = 0;
    std::span<T> span() const { return {ptr, len}; }
    std::size_t size() const { return len; }
    T* data() const { return ptr; }
    T& operator[](std::size_t i) const { return ptr[i]; }
};

using F64Array = ArrayRef<double>;
using I64Array = ArrayRef<std::int64_t>;
using U8Array = ArrayRef<std::uint8_t>;
using USizeArray = ArrayRef<std::size_t>;
using F64ArrayMut = ArrayMut<double>;  // borrowed for writing: writeable, overlapping nothing

// A float64 array copied into a new vector, with its own contiguity message.
template <class Msg>
struct CopiedF64 {
    std::vector<double> values;
};
struct PhasesMsg {
    static constexpr const char* text = "phases not contiguous";
};
struct PositionsMsg {
    static constexpr const char* text = "positions not contiguous";
};
using PhasesCopy = CopiedF64<PhasesMsg>;
using PositionsCopy = CopiedF64<PositionsMsg>;

// A float64 array of any strides and alignment, copied element by element in
// index order (for the one argument that takes views of arrays as they are).
struct F64Elements {
    std::vector<double> values;
};

// An ordered dict argument, keys and values converted.
template <class K, class V>
struct DictArg {
    std::vector<std::pair<K, V>> items;
};


// ---------------------------------------------------------------------------
// Results.

template <class T>
struct NewArray {
    Obj array;
    T* ptr = nullptr;
    std::size_t len = 0;
    static NewArray alloc(std::size_t n);
    static NewArray from(std::span<const T> values) {
        NewArray a = alloc(values.size());
        if (!values.empty()) std::memcpy(a.ptr, values.data(), values.size() * sizeof(T));
        return a;
    }
    std::span<T> span() const { return {ptr, len}; }
    T& operator[](std::size_t i) const { return ptr[i]; }
};

struct NewArray2D {
    Obj array;
    double* ptr = nullptr;
    std::size_t rows = 0, cols = 0;
    static NewArray2D alloc(std::size_t rows, std::size_t cols);
    std::span<double> span() const { return {ptr, rows * cols}; }
};

// A new instance of the class registered for T.
template <class T>
struct New {
    T value;
};

// A dict with str keys, in insertion order.
class Dict {
public:
    Dict();
    template <class V>
    Dict& set(std::string_view key, V&& value);
    Obj take() { return std::move(d_); }

private:
    void set_obj(std::string_view key, Obj value);
    Obj d_;
};

// ---------------------------------------------------------------------------
// Signatures: parsed from the text signature, defaults made into objects.

struct Signature {
    std::string display;              // "plv()" or "PyUPDEStepper.step()"
    std::vector<std::string> names;
    std::vector<Obj> names_py;        // interned, for keyword matching
    std::vector<Obj> defaults;        // empty Obj: required
    std::size_t n_required = 0;       // leading parameters without default

    static Signature parse(std::string_view text_sig, std::string_view display);
};

// Matches the fast-call vector (or tuple and dict) against sig into out[0..n).
void match_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    PyObject** out);
void match_tuple_dict(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out);

// ---------------------------------------------------------------------------
// Array borrow registry (process-wide; every call holds the interpreter lock).
class ArrayBorrow {
public:
    ArrayBorrow() = default;
    ArrayBorrow(const ArrayBorrow&) = delete;
    ArrayBorrow& operator=(const ArrayBorrow&) = delete;
    ~ArrayBorrow() { release(); }
    // Raises ValueError when the range clashes with a held borrow.
    void acquire(const void* lo, std::size_t bytes, bool write, std::string_view name);
    void release();

private:
    std::size_t id_ = 0;
};

// One array argument as the frame holds it. The type is checked during
// conversion; the data pointer, length and stride are read only afterwards
// (capture), once no more Python code can run before the engine is done.
class ArrayHolder {
public:
    ArrayHolder() = default;
    ArrayHolder(const ArrayHolder&) = delete;
    ArrayHolder& operator=(const ArrayHolder&) = delete;
    ~ArrayHolder();
    // Type, dimension and dtype checks (TypeError). `types` lists the NumPy
    // type characters accepted, for example "lq" for int64.
    void convert(PyObject* obj, const char* types, std::size_t itemsize, const char* what);
    // Checks the array again and reads its data pointer, length and stride.
    void capture();
    bool contiguous() const;
    // Copies the elements in index order whatever the strides and alignment.
    void copy_elements(void* out) const;
    // capture(), the contiguity test with the given message, then the read or write borrow.
    void finish(std::string_view name, const char* contiguity_msg, bool write);
    void* data() const { return data_; }
    std::size_t len() const { return len_; }

private:
    PyObject* obj_ = nullptr;  // strong reference for the call
    const char* types_ = "";
    const char* what_ = "";
    char* data_ = nullptr;
    std::size_t len_ = 0;
    std::size_t itemsize_ = 0;
    Py_ssize_t stride_ = 0;
    bool writeable_ = false;
    ArrayBorrow borrow_;
};

inline constexpr const char* kNotContiguous = "The given array is not contiguous or is misaligned.";

// ---------------------------------------------------------------------------
// Converters. convert<T>(obj) for values; Arg<T> for parameters.

template <class T>
struct ValueConv;  // static T convert(PyObject*)

template <class T>
T convert(PyObject* o) {
    return ValueConv<T>::convert(o);
}

double to_double(PyObject* o);
std::uint64_t to_u64(PyObject* o);
std::int64_t to_i64(PyObject* o);
bool to_bool(PyObject* o);
std::string to_string(PyObject* o);
// Items of a sequence (not str); calls f(item) for each.
void for_each_item(PyObject* o, const char* target, void (*f)(PyObject*, void*), void* ctx);
[[noreturn]] void raise_out_of_range();

template <>
struct ValueConv<double> {
    static double convert(PyObject* o) { return to_double(o); }
};
template <>
struct ValueConv<bool> {
    static bool convert(PyObject* o) { return to_bool(o); }
};
template <>
struct ValueConv<std::string> {
    static std::string convert(PyObject* o) { return to_string(o); }
};
// Integers narrower than 64 bits: any value outside the type's range,
// negatives for unsigned types included, is "out of range".
std::int64_t to_narrow(PyObject* o, std::int64_t lo, std::int64_t hi);

template <class I>
    requires(std::is_integral_v<I> && !std::is_same_v<I, bool>)
struct ValueConv<I> {
    static I convert(PyObject* o) {
        if constexpr (sizeof(I) == 8 && std::is_unsigned_v<I>) {
            return static_cast<I>(to_u64(o));
        } else if constexpr (sizeof(I) == 8) {
            return static_cast<I>(to_i64(o));
        } else {
            return static_cast<I>(to_narrow(o, std::numeric_limits<I>::min(), std::numeric_limits<I>::max()));
        }
    }
};
template <class T>
struct ValueConv<std::optional<T>> {
    static std::optional<T> convert(PyObject* o) {
        if (o == Py_None) return std::nullopt;
        return ValueConv<T>::convert(o);
    }
};
// A one-dimensional float64 ndarray (exact type) copied straight from its
// buffer, any strides: the same values as item by item, without a scalar
// object per element. False (nothing set) for anything else.
bool copy_f64_ndarray(PyObject* o, std::vector<double>& out);

template <class T>
struct ValueConv<std::vector<T>> {
    static std::vector<T> convert(PyObject* o) {
        std::vector<T> out;
        if constexpr (std::is_same_v<T, double>) {
            if (copy_f64_ndarray(o, out)) return out;
        }
        for_each_item(
            o, "Vec",
            [](PyObject* item, void* ctx) {
                static_cast<std::vector<T>*>(ctx)->push_back(ValueConv<T>::convert(item));
            },
            &out);
        return out;
    }
};
void check_tuple(PyObject* o, Py_ssize_t n);
template <class... T>
struct ValueConv<std::tuple<T...>> {
    static std::tuple<T...> convert(PyObject* o) {
        check_tuple(o, sizeof...(T));
        return [&]<std::size_t... I>(std::index_sequence<I...>) {
            return std::tuple<T...>{ValueConv<T>::convert(PyTuple_GetItem(o, I))...};
        }(std::index_sequence_for<T...>{});
    }
};
void check_dict(PyObject* o);
template <class K, class V>
struct ValueConv<DictArg<K, V>> {
    static DictArg<K, V> convert(PyObject* o) {
        check_dict(o);
        DictArg<K, V> out;
        // A snapshot of the items: converting a value may run Python code.
        Obj items = Obj::check(PyDict_Items(o));
        Py_ssize_t n = PyList_Size(items.get());
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject* kv = PyList_GetItem(items.get(), i);
            K key = ValueConv<K>::convert(PyTuple_GetItem(kv, 0));
            V val = ValueConv<V>::convert(PyTuple_GetItem(kv, 1));
            out.items.emplace_back(std::move(key), std::move(val));
        }
        return out;
    }
};
// A dict copied into a hash map (keys of a dict are distinct).
template <class K, class V>
struct ValueConv<std::unordered_map<K, V>> {
    static std::unordered_map<K, V> convert(PyObject* o) {
        DictArg<K, V> d = ValueConv<DictArg<K, V>>::convert(o);
        std::unordered_map<K, V> out;
        out.reserve(d.items.size());
        for (auto& [k, v] : d.items) out.insert_or_assign(std::move(k), std::move(v));
        return out;
    }
};

// Parameter converters: convert() during conversion, finish() afterwards in
// parameter order (contiguity tests and borrows), get() for the lambda.
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
struct Arg<ArrayRef<T>> {
    ArrayHolder h;
    void convert(PyObject* o) { h.convert(o, ArrayTraits<T>::formats, sizeof(T), ArrayTraits<T>::what); }
    void finish(std::string_view name) { h.finish(name, kNotContiguous, false); }
    ArrayRef<T> get() { return {static_cast<const T*>(h.data()), h.len()}; }
};
template <class T>
struct Arg<ArrayMut<T>> {
    ArrayHolder h;
    void convert(PyObject* o) { h.convert(o, ArrayTraits<T>::formats, sizeof(T), ArrayTraits<T>::what); }
    void finish(std::string_view name) { h.finish(name, kNotContiguous, true); }
    ArrayMut<T> get() { return {static_cast<T*>(h.data()), h.len()}; }
};
template <class Msg>
struct Arg<CopiedF64<Msg>> {
    ArrayHolder h;
    std::vector<double> copy;
    void convert(PyObject* o) { h.convert(o, "d", sizeof(double), "float64"); }
    void finish(std::string_view name) {
        if (h.len() > 0 && !h.contiguous()) raise_value_error(Msg::text);
        // Held for reading until the call ends, so that no argument of the
        // same call may write over it.
        h.finish(name, Msg::text, false);
        const double* p = static_cast<const double*>(h.data());
        copy.assign(p, p + h.len());
    }
    CopiedF64<Msg> get() { return {std::move(copy)}; }
};
template <>
struct Arg<F64Elements> {
    ArrayHolder h;
    std::vector<double> copy;
    void convert(PyObject* o) { h.convert(o, "d", sizeof(double), "float64"); }
    void finish(std::string_view) {
        h.capture();
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
        h.convert(o, ArrayTraits<T>::formats, sizeof(T), ArrayTraits<T>::what);
    }
    void finish(std::string_view n) { name.assign(n); }
    Deferred<A> get() { return {&h, name.c_str()}; }
};

// ---------------------------------------------------------------------------
// Result conversion.

PyObject* to_py_double(double v);
PyObject* to_py_string(std::string_view s);

template <class T>
struct IsResult : std::false_type {};
template <class T, class E>
struct IsResult<Result<T, E>> : std::true_type {};
template <class T>
struct IsTuple : std::false_type {};
template <class... T>
struct IsTuple<std::tuple<T...>> : std::true_type {};
template <class A, class B>
struct IsTuple<std::pair<A, B>> : std::true_type {};
template <class T>
struct IsVector : std::false_type {};
template <class T, class A>
struct IsVector<std::vector<T, A>> : std::true_type {};
template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};
template <class T>
struct IsNewArray : std::false_type {};
template <class T>
struct IsNewArray<NewArray<T>> : std::true_type {};
template <class T>
struct IsNew : std::false_type {};
template <class T>
struct IsNew<New<T>> : std::true_type {};

template <class T>
PyObject* new_instance(T&& value);

// A Result's value, its error raised (QelError with its prefix, PlainError
// bare); any other value passes through.
template <class R>
decltype(auto) unwrap(R&& r) {
    using D = std::decay_t<R>;
    if constexpr (IsResult<D>::value) {
        if (!r.ok()) {
            using E = std::decay_t<decltype(r.error())>;
            if constexpr (std::is_same_v<E, QelError>) {
                raise_qel(r.error());
            } else {
                static_assert(std::is_same_v<E, PlainError>, "errors are QelError or PlainError");
                if (r.error().internal) raise_panic(r.error().message);
                raise_value_error(r.error().message);
            }
        }
        return std::move(r).value();
    } else {
        return std::forward<R>(r);
    }
}

template <class T>
PyObject* to_py(T&& value) {
    using D = std::decay_t<T>;
    if constexpr (std::is_same_v<D, double> || std::is_same_v<D, float>) {
        return to_py_double(value);
    } else if constexpr (std::is_same_v<D, bool>) {
        return PyBool_FromLong(value ? 1 : 0);
    } else if constexpr (std::is_integral_v<D> && std::is_unsigned_v<D>) {
        return PyLong_FromUnsignedLongLong(value);
    } else if constexpr (std::is_integral_v<D>) {
        return PyLong_FromLongLong(value);
    } else if constexpr (std::is_same_v<D, std::string> || std::is_same_v<D, std::string_view> ||
                         std::is_same_v<D, const char*>) {
        return to_py_string(value);
    } else if constexpr (std::is_same_v<D, Obj>) {
        return Obj(std::move(value)).release();
    } else if constexpr (std::is_same_v<D, Dict>) {
        return value.take().release();
    } else if constexpr (std::is_same_v<D, NewArray2D>) {
        return value.array.release();
    } else if constexpr (IsNewArray<D>::value) {
        return value.array.release();
    } else if constexpr (IsNew<D>::value) {
        return new_instance(std::move(value.value));
    } else if constexpr (std::is_same_v<D, std::nullopt_t>) {
        Py_RETURN_NONE;
    } else if constexpr (IsOptional<D>::value) {
        if (!value) Py_RETURN_NONE;
        return to_py(std::move(*value));
    } else if constexpr (IsTuple<D>::value) {
        constexpr std::size_t n = std::tuple_size_v<D>;
        Obj t = Obj::check(PyTuple_New(n));
        bool ok = true;
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            ((ok = ok && [&] {
                 PyObject* item = to_py(std::get<I>(std::move(value)));
                 if (!item) return false;
                 PyTuple_SetItem(t.get(), I, item);
                 return true;
             }()),
             ...);
        }(std::make_index_sequence<n>{});
        if (!ok) return nullptr;
        return t.release();
    } else if constexpr (IsVector<D>::value) {
        Obj l = Obj::check(PyList_New(static_cast<Py_ssize_t>(value.size())));
        for (std::size_t i = 0; i < value.size(); ++i) {
            PyObject* item = to_py(std::move(value[i]));
            if (!item) return nullptr;
            PyList_SetItem(l.get(), static_cast<Py_ssize_t>(i), item);
        }
        return l.release();
    } else if constexpr (IsResult<D>::value) {
        if constexpr (std::is_void_v<decltype(value.value())>) {
            unwrap(std::move(value));
            Py_RETURN_NONE;
        } else {
            return to_py(unwrap(std::move(value)));
        }
    } else {
        static_assert(sizeof(D) == 0, "no Python conversion for this result type");
    }
}

template <class V>
Dict& Dict::set(std::string_view key, V&& value) {
    PyObject* o = to_py(std::forward<V>(value));
    if (!o) throw PyErrSet{};
    set_obj(key, Obj(o));
    return *this;
}

// ---------------------------------------------------------------------------
// Instances and object borrows.

struct InstanceBase {
    PyObject ob_base;
    std::atomic<std::int64_t> borrow;  // 0 free, -1 exclusive, >0 shared readers
    bool alive;
};

template <class T>
struct Instance : InstanceBase {
    alignas(T) unsigned char storage[sizeof(T)];
    T& value() { return *std::launder(reinterpret_cast<T*>(storage)); }
};

class ObjectBorrow {
public:
    ObjectBorrow(InstanceBase* inst, bool exclusive);
    ~ObjectBorrow();
    ObjectBorrow(const ObjectBorrow&) = delete;
    ObjectBorrow& operator=(const ObjectBorrow&) = delete;

private:
    InstanceBase* inst_;
    bool exclusive_;
};

template <class T>
struct TypeSlot {
    static inline PyTypeObject* type = nullptr;
};

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

template <class T>
PyObject* new_instance(T&& value) {
    PyTypeObject* tp = TypeSlot<std::decay_t<T>>::type;
    if (!tp) raise_panic("class not registered");
    return new_instance_of(tp, std::forward<T>(value));
}
// ---------------------------------------------------------------------------
// Trampolines.

template <class F>
struct FnTraits : FnTraits<decltype(&F::operator())> {};
template <class C, class R, class... A>
struct FnTraits<R (C::*)(A...) const> {
    using result = R;
    using args = std::tuple<A...>;
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
PyObject* py_result(Call&& call) {
    if constexpr (std::is_void_v<decltype(call())>) {
        call();
        Py_RETURN_NONE;
    } else {
        PyObject* r = to_py(call());
        if (!r) throw PyErrSet{};
        return r;
    }
}

// A method: the object is borrowed (exclusively when the lambda takes it
// non-const) before the arguments are converted.
template <class L, class Self, class First, class... A>
PyObject* invoke_method(const Signature& sig, PyObject** slots, Instance<Self>* inst,
                        std::tuple<First, A...>*) {
    ObjectBorrow guard(inst, !std::is_const_v<std::remove_reference_t<First>>);
    auto bound = [&](auto&&... a) -> decltype(auto) { return L{}(inst->value(), std::forward<decltype(a)>(a)...); };
    return py_result([&]() -> decltype(auto) {
        return call_with(sig, slots, bound, static_cast<std::tuple<A...>*>(nullptr));
    });
}

// Per-lambda signature. Never destroyed: it holds Python objects, and static
// destructors run after the interpreter has gone.
template <class L>
struct SigOf {
    static inline Signature& sig = *new Signature();
};

constexpr std::size_t kMaxParams = 16;

template <class L>
PyObject* fn_trampoline(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    using Args = typename FnTraits<L>::args;
    static_assert(std::tuple_size_v<Args> <= kMaxParams);
    try {
        PyObject* slots[kMaxParams + 1];
        match_fastcall(SigOf<L>::sig, args, nargsf, kwnames, slots);
        return py_result([&]() -> decltype(auto) {
            return call_with(SigOf<L>::sig, slots, L{}, static_cast<Args*>(nullptr));
        });
    } catch (...) {
        map_current_exception();
        return nullptr;
    }
}

template <class T, class L>
PyObject* method_trampoline(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    using Args = typename FnTraits<L>::args;
    try {
        PyObject* slots[kMaxParams + 1];
        match_fastcall(SigOf<L>::sig, args, nargsf, kwnames, slots);
        return invoke_method<L>(SigOf<L>::sig, slots, reinterpret_cast<Instance<T>*>(self),
                                static_cast<Args*>(nullptr));
    } catch (...) {
        map_current_exception();
        return nullptr;
    }
}

template <class T, class L>
PyObject* getter_trampoline(PyObject* self, void*) {
    try {
        auto* inst = reinterpret_cast<Instance<T>*>(self);
        using First = std::tuple_element_t<0, typename FnTraits<L>::args>;
        ObjectBorrow guard(inst, !std::is_const_v<std::remove_reference_t<First>>);
        return py_result([&]() -> decltype(auto) { return L{}(inst->value()); });
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
        Py_DECREF(py_result([&]() -> decltype(auto) { return L{}(inst->value(), std::move(*v)); }));
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
        map_current_exception();
        return nullptr;
    }
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

// ---------------------------------------------------------------------------
// Registration.

std::string make_doc(std::string_view sig, std::string_view doc);

struct ClassDef {
    std::string name;
    std::string doc;
    std::vector<PyType_Slot> slots;
    std::vector<PyMethodDef> methods;
    std::vector<PyGetSetDef> getsets;
    std::size_t basicsize = 0;
    bool instantiable = true;
    PyTypeObject** type_slot = nullptr;
    std::deque<std::string> strings_;  // stable storage for names and docs
    const char* keep(std::string s);
};

struct FunctionDef {
    PyMethodDef def{};
    std::string name, doc;
};

class Module;

template <class T>
class ClassBuilder {
public:
    explicit ClassBuilder(ClassDef* def) : def_(def) {}

    template <class L>
    ClassBuilder& method(const char* name, std::string_view sig, std::string_view doc, L) {
        SigOf<L>::sig = Signature::parse(sig, def_->name + "." + name + "()");
        def_->methods.push_back({def_->keep(name), reinterpret_cast<PyCFunction>(
                                                      reinterpret_cast<void (*)()>(&method_trampoline<T, L>)),
                                 METH_FASTCALL | METH_KEYWORDS, def_->keep(make_doc(sig, doc))});
        return *this;
    }
    template <class L>
    ClassBuilder& static_method(const char* name, std::string_view sig, std::string_view doc, L) {
        SigOf<L>::sig = Signature::parse(sig, def_->name + "." + name + "()");
        def_->methods.push_back({def_->keep(name), reinterpret_cast<PyCFunction>(
                                                      reinterpret_cast<void (*)()>(&fn_trampoline<L>)),
                                 METH_FASTCALL | METH_KEYWORDS | METH_STATIC, def_->keep(make_doc(sig, doc))});
        return *this;
    }
    template <class L>
    ClassBuilder& getter(const char* name, std::string_view doc, L) {
        def_->getsets.push_back({def_->keep(name), &getter_trampoline<T, L>, nullptr,
                                 def_->keep(std::string(doc)), nullptr});
        return *this;
    }
    template <class G, class S>
    ClassBuilder& property(const char* name, std::string_view doc, G, S) {
        def_->getsets.push_back({def_->keep(name), &getter_trampoline<T, G>, &setter_trampoline<T, S>,
                                 def_->keep(std::string(doc)), nullptr});
        return *this;
    }

private:
    ClassDef* def_;
};

class Module {
public:
    template <class L>
    void function(const char* name, std::string_view sig, std::string_view doc, L) {
        SigOf<L>::sig = Signature::parse(sig, std::string(name) + "()");
        FunctionDef& f = add_function(name, make_doc(sig, doc));
        f.def.ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fn_trampoline<L>));
    }

    // A class whose constructor is the lambda (returning T or Result<T, E>).
    template <class T, class L>
    ClassBuilder<T> cls(const char* name, std::string_view sig, std::string_view doc, L) {
        SigOf<L>::sig = Signature::parse(sig, std::string(name) + ".__new__()");
        ClassDef& c = add_class(name, make_doc(sig, doc), sizeof(Instance<T>), &TypeSlot<T>::type);
        c.slots.push_back({Py_tp_new, reinterpret_cast<void*>(&new_trampoline<T, L>)});
        c.slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_trampoline<T>)});
        return ClassBuilder<T>(&c);
    }
    // A class that Python cannot instantiate; instances come from its static methods.
    template <class T>
    ClassBuilder<T> cls_no_constructor(const char* name, std::string_view doc) {
        ClassDef& c = add_class(name, std::string(doc), sizeof(Instance<T>), &TypeSlot<T>::type);
        c.instantiable = false;
        c.slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_trampoline<T>)});
        return ClassBuilder<T>(&c);
    }

    // More methods for a class declared elsewhere (another wrapper file).
    template <class T>
    ClassBuilder<T> extend(const char* name) {
        return ClassBuilder<T>(&class_def(name));
    }

    FunctionDef& add_function(const char* name, std::string doc);
    ClassDef& class_def(const char* name);
    ClassDef& add_class(const char* name, std::string doc, std::size_t basicsize, PyTypeObject** slot);

    std::map<std::string, FunctionDef*, std::less<>> functions;
    std::map<std::string, ClassDef*, std::less<>> classes;
};

// Registration functions, run once when the module is first executed.
using RegisterFn = void (*)(Module&);
struct Registrar {
    explicit Registrar(RegisterFn f);
};
std::vector<RegisterFn>& registrars();

#define QEL_BINDINGS(group)                                                         \
    static void qel_bindings_##group(::qel::py::Module& m);                          \
    static const ::qel::py::Registrar qel_registrar_##group(&qel_bindings_##group); \
    static void qel_bindings_##group([[maybe_unused]] ::qel::py::Module& m)

// NewArray allocation (needs NumPy).
template <class T>
constexpr int numpy_type_of() {
    if constexpr (std::is_same_v<T, double>) return numpy::Float64;
    else if constexpr (std::is_same_v<T, std::int32_t>) return numpy::Int32;
    else if constexpr (std::is_same_v<T, std::int64_t>) return numpy::Int64;
    else if constexpr (std::is_same_v<T, std::uint64_t>) return numpy::UInt64;
    else if constexpr (std::is_same_v<T, std::uint8_t>) return numpy::UInt8;
    else static_assert(sizeof(T) == 0, "no NumPy array of this element type");
}

template <class T>
NewArray<T> NewArray<T>::alloc(std::size_t n) {
    if (n > static_cast<std::size_t>(PY_SSIZE_T_MAX) / sizeof(T)) throw std::bad_alloc();
    NewArray<T> a;
    Py_ssize_t dims[1] = {static_cast<Py_ssize_t>(n)};
    void* data = nullptr;
    a.array = numpy::new_array(1, dims, numpy_type_of<T>(), &data);
    a.ptr = static_cast<T*>(data);
    a.len = n;
    return a;
}

}  // namespace qel::py
