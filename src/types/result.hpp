// A value or an error, returned by every engine operation that can fail.
#pragma once
#include <optional>
#include <utility>
#include <variant>

namespace qel {

template <class T, class E>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(E error) : v_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() & { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    const T& value() const& { return std::get<0>(v_); }
    E& error() & { return std::get<1>(v_); }
    E&& error() && { return std::get<1>(std::move(v_)); }
    const E& error() const& { return std::get<1>(v_); }

private:
    std::variant<T, E> v_;
};

template <class E>
class [[nodiscard]] Result<void, E> {
public:
    Result() = default;
    Result(E error) : err_(std::move(error)) {}

    bool ok() const { return !err_.has_value(); }
    explicit operator bool() const { return ok(); }
    void value() const {}
    E& error() & { return *err_; }
    E&& error() && { return std::move(*err_); }
    const E& error() const& { return *err_; }

private:
    // optional, so that an error type need not have an empty value.
    std::optional<E> err_;
};

}  // namespace qel
