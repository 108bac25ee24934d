#include "supervisor/text.hpp"

#include <cstddef>

namespace qel::supervisor::text {

bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

namespace {

inline unsigned byte(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

inline bool continuation(unsigned b) { return (b & 0xC0) == 0x80; }

// Decodes the sequence of `len` bytes starting at i (lead and continuation
// bytes already checked); an overlong form decodes to U+FFFD.
char32_t decode(std::string_view s, std::size_t i, std::size_t len) {
    static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    unsigned b0 = byte(s, i);
    char32_t c = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (std::size_t k = 1; k < len; ++k) c = (c << 6) | (byte(s, i + k) & 0x3F);
    return c < kMin[len] ? U'\uFFFD' : c;
}

// Length of the sequence a lead byte announces; 0 for a byte that leads nothing.
std::size_t sequence_length(unsigned b0) {
    if (b0 < 0x80) return 1;
    if ((b0 & 0xE0) == 0xC0) return 2;
    if ((b0 & 0xF0) == 0xE0) return 3;
    if ((b0 & 0xF8) == 0xF0) return 4;
    return 0;
}

// Bytes of the white-space character at the front of s, or 0. Malformed
// text is never white space.
std::size_t space_at_front(std::string_view s) {
    if (s.empty()) return 0;
    std::size_t len = sequence_length(byte(s, 0));
    if (len == 0 || len > s.size()) return 0;
    for (std::size_t k = 1; k < len; ++k)
        if (!continuation(byte(s, k))) return 0;
    return is_white_space(decode(s, 0, len)) ? len : 0;
}

// Bytes of the white-space character at the back of s, or 0.
std::size_t space_at_back(std::string_view s) {
    std::size_t n = s.size();
    std::size_t len = 1;
    while (len <= 4 && len <= n && continuation(byte(s, n - len))) ++len;
    if (len > 4 || len > n) return 0;
    if (sequence_length(byte(s, n - len)) != len) return 0;
    return is_white_space(decode(s, n - len, len)) ? len : 0;
}

}  // namespace

std::string_view trim(std::string_view s) {
    while (std::size_t k = space_at_front(s)) s.remove_prefix(k);
    while (std::size_t k = space_at_back(s)) s.remove_suffix(k);
    return s;
}

bool is_blank(std::string_view s) { return trim(s).empty(); }

std::vector<std::string_view> split_white_space(std::string_view s) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0, i = 0;
    while (i < s.size()) {
        std::size_t k = space_at_front(s.substr(i));
        if (k == 0) {
            ++i;
            continue;
        }
        if (i > start) pieces.push_back(s.substr(start, i - start));
        i += k;
        start = i;
    }
    if (i > start) pieces.push_back(s.substr(start, i - start));
    return pieces;
}

}  // namespace qel::supervisor::text
