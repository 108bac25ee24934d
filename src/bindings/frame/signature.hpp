// Text signatures: checked against the lambda at compile time, parsed once
// into names and defaults, and matched against each call's arguments.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "bindings/frame/errors.hpp"

namespace qel::py {

constexpr std::size_t kMaxParams = 16;

constexpr std::string_view trim_sig(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\n')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

// Calls f(part) for each parameter of "name(a, b=(1, 2), c=\"x,y\")": the
// trimmed text between top-level commas, without "$self", "/" and "*".
// False when the text has no parameter list.
template <class F>
constexpr bool for_each_param(std::string_view text_sig, F&& f) {
    std::size_t open = text_sig.find('('), close = text_sig.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) return false;
    std::string_view body = text_sig.substr(open + 1, close - open - 1);
    auto emit = [&](std::string_view p) {
        p = trim_sig(p);
        if (!p.empty() && p.front() != '$' && p != "/" && p != "*") f(p);
    };
    int depth = 0;
    char quote = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < body.size(); ++i) {
        char c = body[i];
        if (quote) {
            if (c == '\\')
                ++i;
            else if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '(' || c == '[' || c == '{') {
            ++depth;
        } else if (c == ')' || c == ']' || c == '}') {
            --depth;
        } else if (c == ',' && depth == 0) {
            emit(body.substr(start, i - start));
            start = i + 1;
        }
    }
    emit(body.substr(start));
    return true;
}

// Deliberately not constexpr: reaching it in a constant evaluation is the
// compile error that names the wrapper whose signature is wrong.
void text_signature_and_lambda_differ_in_parameter_count();
void text_signature_is_malformed();

// A text signature naming exactly N parameters (not counting $self), checked
// when the wrapper compiles.
template <std::size_t N>
struct TextSig {
    static_assert(N <= kMaxParams, "too many parameters for the frame");
    std::string_view text;
    consteval TextSig(const char* s) : text(s) {
        std::size_t count = 0;
        if (!for_each_param(text, [&](std::string_view) { ++count; })) text_signature_is_malformed();
        if (count != N) text_signature_and_lambda_differ_in_parameter_count();
    }
};

struct Signature {
    std::string display;  // "plv()" or "PyUPDEStepper.step()"
    std::vector<std::string> names;
    std::vector<Obj> names_py;   // interned, for keyword matching
    std::vector<Obj> defaults;   // empty Obj: required
    std::size_t n_required = 0;  // leading parameters without default

    static Signature parse(std::string_view text_sig, std::string_view display);
};

// Matches the fast-call vector (or tuple and dict) against sig into out[0..n).
void match_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out);
void match_tuple_dict(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out);

}  // namespace qel::py
