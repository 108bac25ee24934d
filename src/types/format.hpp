// Text of numbers in messages, and message concatenation.
#pragma once
#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>

namespace qel::text {

// Shortest decimal that reads back to the same double, never in exponent
// form: 0.0000001, 1, -0, NaN, inf, -inf.
std::string num(double v);

// Whole numbers computed in 128 bits (products of sizes) in decimal.
__extension__ typedef unsigned __int128 u128;
std::string decimal(u128 v);
// a*b in decimal, exact also where it does not fit in 64 bits: a length
// message names the product the caller asked for, never a wrapped one.
inline std::string product(std::uint64_t a, std::uint64_t b) { return decimal(static_cast<u128>(a) * b); }

inline void append(std::string& out, std::string_view s) { out.append(s); }
inline void append(std::string& out, const char* s) { out.append(s); }
inline void append(std::string& out, const std::string& s) { out.append(s); }
inline void append(std::string& out, char c) { out.push_back(c); }
inline void append(std::string& out, double v) { out.append(num(v)); }
template <std::integral I>
    requires(!std::same_as<I, char> && !std::same_as<I, bool>)
inline void append(std::string& out, I v) {
    out.append(std::to_string(v));
}

// cat("expected ", n, ", got ", 0.5) -> "expected 3, got 0.5"
template <class... A>
std::string cat(const A&... parts) {
    std::string out;
    (append(out, parts), ...);
    return out;
}

}  // namespace qel::text
