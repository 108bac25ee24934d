// Text helpers: white space, quoted form, upper case. Strings are UTF-8 and sized:
// an embedded NUL is an ordinary character.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace qel::text {

// Unicode White_Space: U+0009..U+000D, U+0020, U+0085, U+00A0, U+1680,
// U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
bool is_white_space(char32_t c);

// s without Unicode white space at either end (a view into s).
std::string_view trim(std::string_view s);

// Empty after trim.
bool is_blank(std::string_view s);

// The text between double quotes, with backslash escapes for quotes,
// backslashes, control, format, separator and unassigned characters and
// combining marks, so that a message shows exactly what the caller passed.
std::string quoted(std::string_view s);

// Full Unicode upper-case mapping, independent of locale ("ß" -> "SS").
std::string to_upper(std::string_view s);

// The pieces of s between runs of Unicode white space (views into s); white
// space at either end yields no piece.
std::vector<std::string_view> split_white_space(std::string_view s);

}  // namespace qel::text
