// NumPy array arguments, the process-wide registry of array borrows, and new
// arrays. NumPy's object layout stays in arrays.cpp.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "bindings/frame/errors.hpp"

namespace qel::py {

// NumPy, fetched on the first call that touches an array.
namespace numpy {
enum TypeNum : int { UInt8 = 2, Int32 = 5, Int64 = 7, UInt64 = 8, Float64 = 12 };
PyTypeObject* ndarray_type();
// New writeable C-contiguous array owning its data; returns its data pointer.
Obj new_array(int nd, const Py_ssize_t* dims, int type_num, void** data);
}  // namespace numpy

// Array arguments as the lambda receives them: plain views; the frame owns
// the buffer and the borrow until the call returns.
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

// A string literal usable as a template argument: CopiedF64<"theta not contiguous">.
template <std::size_t N>
struct Literal {
    char text[N];
    consteval Literal(const char (&s)[N]) { std::copy_n(s, N, text); }
};

// A float64 array copied into a new vector; a non-contiguous one is refused
// with the message given.
template <Literal Msg>
struct CopiedF64 {
    std::vector<double> values;
};
using PhasesCopy = CopiedF64<"phases not contiguous">;
using PositionsCopy = CopiedF64<"positions not contiguous">;

// A float64 array of any strides and alignment, copied element by element in
// index order (for the one argument that takes views of arrays as they are).
struct F64Elements {
    std::vector<double> values;
};

inline constexpr const char* kNotContiguous = "The given array is not contiguous or is misaligned.";

// One entry in the registry of array borrows (every call holds the interpreter lock).
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
    // capture() for the parameter `name`: a failure carries its note.
    void capture(std::string_view name);
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

// A one-dimensional float64 ndarray (exact type) copied straight from its
// buffer, any strides: the same values as item by item, without a scalar
// object per element. False (nothing set) for anything else.
bool copy_f64_ndarray(PyObject* o, std::vector<double>& out);

}  // namespace qel::py
