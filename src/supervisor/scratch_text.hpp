// Text helpers of the supervisor (scratch: moves into text.hpp).
#pragma once
#include <string>
#include <string_view>

namespace qel::supervisor_text {

// The name between double quotes, with backslash escapes for quotes,
// backslashes, control, format, separator and unassigned characters and
// combining marks, so that every message shows what the caller passed.
std::string quoted(std::string_view s);

// Full Unicode upper-case mapping, independent of locale ("ß" -> "SS").
std::string to_upper(std::string_view s);

// Empty after trimming Unicode White_Space at both ends.
bool is_blank(std::string_view s);

}  // namespace qel::supervisor_text
