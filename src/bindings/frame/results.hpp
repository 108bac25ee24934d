// Results: to_py turns what a lambda returns into a new Python object
// (numbers, strings, tuples, vectors as lists, optionals, NewArray, Dict,
// New<T>, Obj, records declared with TupleFields), and unwrap raises the
// error of a Result.
#pragma once

#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "bindings/frame/arrays.hpp"
#include "bindings/frame/instances.hpp"

namespace qel::py {

template <class T>
constexpr int numpy_type_of() {
    if constexpr (std::is_same_v<T, double>)
        return numpy::Float64;
    else if constexpr (std::is_same_v<T, std::int32_t>)
        return numpy::Int32;
    else if constexpr (std::is_same_v<T, std::int64_t>)
        return numpy::Int64;
    else if constexpr (std::is_same_v<T, std::uint64_t>)
        return numpy::UInt64;
    else if constexpr (std::is_same_v<T, std::uint8_t>)
        return numpy::UInt8;
    else
        static_assert(sizeof(T) == 0, "no NumPy array of this element type");
}

// A new NumPy array of nd dimensions; throws AllocationFailure when its size
// cannot be expressed.
Obj alloc_array(int nd, const std::size_t* dims, std::size_t itemsize, int type_num, void** data);

template <class T>
struct NewArray {
    Obj array;
    T* ptr = nullptr;
    std::size_t len = 0;
    static NewArray alloc(std::size_t n) {
        NewArray<T> a;
        void* data = nullptr;
        a.array = alloc_array(1, &n, sizeof(T), numpy_type_of<T>(), &data);
        a.ptr = static_cast<T*>(data);
        a.len = n;
        return a;
    }
    static NewArray from(std::span<const T> values) {
        NewArray a = alloc(values.size());
        if (!values.empty()) std::memcpy(a.ptr, values.data(), values.size() * sizeof(T));
        return a;
    }
    // first, then second, in one array.
    static NewArray from(std::span<const T> first, std::span<const T> second) {
        NewArray a = alloc(first.size() + second.size());
        if (!first.empty()) std::memcpy(a.ptr, first.data(), first.size() * sizeof(T));
        if (!second.empty()) std::memcpy(a.ptr + first.size(), second.data(), second.size() * sizeof(T));
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

// A vector, or a Result holding one, returned as a new one-dimensional NumPy
// array (a plain vector becomes a list): return AsArray{engine_call(...)}.
template <class R>
struct AsArray {
    R value;
};
template <class R>
AsArray(R) -> AsArray<R>;

// An engine record returned as a tuple of its fields, in the order a wrapper
// declares them (the same declaration may also give `type` for arguments):
//     template <> struct TupleFields<R> {
//         static constexpr auto fields = std::tuple{&R::count, as_array(&R::values)};
//     };
// A field wrapped in as_array becomes a new NumPy array, any other field what
// to_py makes of its type. A wrapper then returns the record, or a Result of
// one, as the engine gives it.
template <class R>
struct TupleFields;
template <class M>
struct ArrayField {
    M member;
};
template <class M>
constexpr ArrayField<M> as_array(M member) {
    return {member};
}
template <class R>
concept ReturnedRecord = requires { TupleFields<R>::fields; };

// A new instance of the class registered for T, from the calling module; T
// may also be a Result of one, whose error is raised.
template <class T>
struct New {
    T value;
};
template <class T>
New(T) -> New<T>;

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
struct IsAsArray : std::false_type {};
template <class R>
struct IsAsArray<AsArray<R>> : std::true_type {};
template <class T>
struct IsNew : std::false_type {};
template <class T>
struct IsNew<New<T>> : std::true_type {};

// The error of a Result raised: QelError as ValueError with its prefix,
// PlainError bare, InternalError as the internal-error exception, or one of
// these in a variant. An exception already pending (a KeyboardInterrupt that
// stopped the engine) is raised instead.
[[noreturn]] void raise_error(const QelError& e);
[[noreturn]] void raise_error(const PlainError& e);
[[noreturn]] void raise_error(const InternalError& e);
template <class... E>
[[noreturn]] void raise_error(const std::variant<E...>& e) {
    std::visit([](const auto& x) { raise_error(x); }, e);
    throw PyErrSet{};
}

// A Result's value, its error raised; any other value passes through.
template <class R>
decltype(auto) unwrap(R&& r) {
    if constexpr (IsResult<std::decay_t<R>>::value) {
        if (!r.ok()) raise_error(r.error());
        return std::move(r).value();
    } else {
        return std::forward<R>(r);
    }
}

template <class T, class C = NoCaller>
PyObject* to_py(T&& value, const C& caller = {}) {
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
    } else if constexpr (std::is_same_v<D, NewArray2D> || IsNewArray<D>::value) {
        return value.array.release();
    } else if constexpr (IsAsArray<D>::value) {
        auto&& v = unwrap(std::move(value.value));
        using E = typename std::decay_t<decltype(v)>::value_type;
        return NewArray<E>::from(std::span<const E>(v.data(), v.size())).array.release();
    } else if constexpr (IsNew<D>::value) {
        static_assert(std::is_same_v<C, Caller>, "an instance is returned only as a call's result");
        return new_instance(unwrap(std::move(value.value)), caller);
    } else if constexpr (std::is_same_v<D, std::nullopt_t>) {
        Py_RETURN_NONE;
    } else if constexpr (IsOptional<D>::value) {
        if (!value) Py_RETURN_NONE;
        return to_py(std::move(*value), caller);
    } else if constexpr (IsTuple<D>::value) {
        constexpr std::size_t n = std::tuple_size_v<D>;
        Obj t = Obj::check(PyTuple_New(n));
        bool ok = true;
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            ((ok = ok &&
                   [&] {
                       PyObject* item = to_py(std::get<I>(std::move(value)), caller);
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
            PyObject* item = to_py(std::move(value[i]), caller);
            if (!item) return nullptr;
            PyList_SetItem(l.get(), static_cast<Py_ssize_t>(i), item);
        }
        return l.release();
    } else if constexpr (ReturnedRecord<D>) {
        D record(std::forward<T>(value));
        auto field = [&]<class M>(M m) {
            if constexpr (requires { m.member; })
                return AsArray{std::move(record.*(m.member))};
            else
                return std::move(record.*m);
        };
        return to_py(std::apply([&](auto... m) { return std::tuple{field(m)...}; }, TupleFields<D>::fields), caller);
    } else if constexpr (IsResult<D>::value) {
        if constexpr (std::is_void_v<decltype(value.value())>) {
            unwrap(std::move(value));
            Py_RETURN_NONE;
        } else {
            return to_py(unwrap(std::move(value)), caller);
        }
    } else {
        static_assert(sizeof(D) == 0, "no Python conversion for this result type");
    }
}

// A method that advanced copies of its inputs in place returns the step's
// error, or the copies as new arrays (one array, or a tuple of them):
//     return advanced(s.step(phases.values, omegas.span()), phases);
template <class E, class C>
Result<NewArray<double>, E> advanced(Result<void, E> status, const C& copy) {
    if (!status) return std::move(status).error();
    return NewArray<double>::from(copy.values);
}
template <class E, class C1, class C2>
Result<std::tuple<NewArray<double>, NewArray<double>>, E> advanced(Result<void, E> status, const C1& first,
                                                                   const C2& second) {
    if (!status) return std::move(status).error();
    return std::tuple{NewArray<double>::from(first.values), NewArray<double>::from(second.values)};
}

// A step a call depends on (a parse of a string argument, a build) and the
// call: r's error, or f applied to r's value (f returns a value, or a Result
// with the same error type):
//     return and_then(parse_knob(knob), [&](Knob k) { return self.project(k, value, previous); });
template <class T, class E, class F>
auto and_then(Result<T, E> r, F&& f) {
    if constexpr (std::is_void_v<T>) {
        using U = std::invoke_result_t<F>;
        using R = std::conditional_t<IsResult<U>::value, U, Result<U, E>>;
        if (!r) return R(std::move(r).error());
        return R(f());
    } else {
        using U = std::invoke_result_t<F, T&&>;
        using R = std::conditional_t<IsResult<U>::value, U, Result<U, E>>;
        if (!r) return R(std::move(r).error());
        return R(f(std::move(r).value()));
    }
}

// A new value that fill writes or advances in place (an array, a state
// vector), returned when fill succeeds, else fill's error:
//     return filled(NewArray<double>::alloc(n), [&](auto& out) { return engine::run(out.span(), ...); });
template <class T, class F>
auto filled(T value, F&& fill) -> Result<T, std::decay_t<decltype(fill(value).error())>> {
    auto status = fill(value);
    if (!status) return std::move(status).error();
    return value;
}

template <class V>
Dict& Dict::set(std::string_view key, V&& value) {
    PyObject* o = to_py(std::forward<V>(value));
    if (!o) throw PyErrSet{};
    set_obj(key, Obj(o));
    return *this;
}

}  // namespace qel::py
