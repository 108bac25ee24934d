// Value converters: convert<T>(obj) turns a Python object into T, or raises
// the converter's exception, saying in plain words what was expected.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "bindings/frame/arrays.hpp"

namespace qel::py {

// An ordered dict argument, keys and values converted.
template <class K, class V>
struct DictArg {
    std::vector<std::pair<K, V>> items;
};

template <class T>
struct ValueConv;  // static T convert(PyObject*)

template <class T>
T convert(PyObject* o) {
    return ValueConv<T>::convert(o);
}

// What a converter accepts, for messages: "float", "a sequence of str",
// "tuples of 2 items" (plural inside another label).
template <class T>
std::string label(bool plural = false);

double to_double(PyObject* o);
std::uint64_t to_u64(PyObject* o);
std::int64_t to_i64(PyObject* o);
// Integers narrower than 64 bits: any value outside the type's range,
// negatives for unsigned types included, is "out of range".
std::int64_t to_narrow(PyObject* o, std::int64_t lo, std::int64_t hi);
bool to_bool(PyObject* o);
std::string to_string(PyObject* o);
// Items of a sequence (not str); calls f(item) for each.
void for_each_item(PyObject* o, std::string (*what)(bool), void (*f)(PyObject*, void*), void* ctx);
void check_tuple(PyObject* o, Py_ssize_t n);
void check_dict(PyObject* o, std::string (*what)(bool));
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

// A parameter whose text signature shows its default as "..." (parsed as
// Ellipsis): omitted, or given as Ellipsis, it takes the value V.
template <auto V>
struct ElidedDefault {
    decltype(V) value;
};
template <auto V>
struct ValueConv<ElidedDefault<V>> {
    static ElidedDefault<V> convert(PyObject* o) {
        if (o == Py_Ellipsis) return {V};
        return {ValueConv<decltype(V)>::convert(o)};
    }
};

template <class T>
struct ValueConv<std::vector<T>> {
    static std::vector<T> convert(PyObject* o) {
        std::vector<T> out;
        if constexpr (std::is_same_v<T, double>) {
            if (copy_f64_ndarray(o, out)) return out;
        }
        for_each_item(
            o, &label<std::vector<T>>,
            [](PyObject* item, void* ctx) {
                static_cast<std::vector<T>*>(ctx)->push_back(ValueConv<T>::convert(item));
            },
            &out);
        return out;
    }
};
template <class... T>
struct ValueConv<std::tuple<T...>> {
    static std::tuple<T...> convert(PyObject* o) {
        check_tuple(o, sizeof...(T));
        return [&]<std::size_t... I>(std::index_sequence<I...>) {
            return std::tuple<T...>{ValueConv<T>::convert(PyTuple_GetItem(o, I))...};
        }(std::index_sequence_for<T...>{});
    }
};
// A record converted from a tuple of its fields in order: a wrapper declares
// template <> struct TupleFields<R> { using type = std::tuple<F1, F2>; };
// and R is then built as R{f1, f2} from a Python tuple of two items.
template <class R>
struct TupleFields;
template <class R>
concept TupleRecord = requires { typename TupleFields<R>::type; };
template <TupleRecord R>
struct ValueConv<R> {
    static R convert(PyObject* o) {
        return std::apply([](auto&&... f) { return R{std::move(f)...}; },
                          ValueConv<typename TupleFields<R>::type>::convert(o));
    }
};
template <class K, class V>
struct ValueConv<DictArg<K, V>> {
    static DictArg<K, V> convert(PyObject* o) {
        check_dict(o, &label<DictArg<K, V>>);
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

namespace detail {
template <class T>
struct LabelOf;
template <class T>
struct LabelOf<std::optional<T>> {
    static std::string text(bool plural) { return "None or " + label<T>(plural); }
};
template <class T>
struct LabelOf<std::vector<T>> {
    static std::string text(bool plural) { return (plural ? "sequences of " : "a sequence of ") + label<T>(true); }
};
template <class... T>
struct LabelOf<std::tuple<T...>> {
    static std::string text(bool plural) {
        return (plural ? "tuples of " : "a tuple of ") + std::to_string(sizeof...(T)) + " items";
    }
};
template <TupleRecord R>
struct LabelOf<R> : LabelOf<typename TupleFields<R>::type> {};
template <class K, class V>
struct LabelOf<DictArg<K, V>> {
    static std::string text(bool plural) {
        return (plural ? "dicts of " : "a dict of ") + label<K>(true) + " to " + label<V>(true);
    }
};
template <class K, class V>
struct LabelOf<std::unordered_map<K, V>> : LabelOf<DictArg<K, V>> {};
}  // namespace detail

template <class T>
std::string label(bool plural) {
    if constexpr (std::is_floating_point_v<T>)
        return "float";
    else if constexpr (std::is_same_v<T, bool>)
        return "bool";
    else if constexpr (std::is_integral_v<T>)
        return "int";
    else if constexpr (std::is_same_v<T, std::string>)
        return "str";
    else
        return detail::LabelOf<T>::text(plural);
}

}  // namespace qel::py
