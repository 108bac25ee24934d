#include "types/text.hpp"

#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstddef>
#include <cstdint>
#include <new>

namespace qel::text {

bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
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
    // Stepping byte by byte is safe: a continuation byte never starts white space.
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

// Quoted form and upper case (ICU: general categories, Grapheme_Extend, case mapping).
namespace {

bool needs_unicode_escape(UChar32 c) {
    if (u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND)) return true;
    switch (u_charType(c)) {
        case U_CONTROL_CHAR:
        case U_FORMAT_CHAR:
        case U_SURROGATE:
        case U_PRIVATE_USE_CHAR:
        case U_UNASSIGNED:
        case U_LINE_SEPARATOR:
        case U_PARAGRAPH_SEPARATOR: return true;
        case U_SPACE_SEPARATOR: return c != 0x20;
        default: return false;
    }
}

void append_hex_escape(std::string& out, std::uint32_t c) {
    static constexpr char kDigits[] = "0123456789abcdef";
    char buf[8];
    int n = 0;
    do {
        buf[n++] = kDigits[c & 0xF];
        c >>= 4;
    } while (c != 0);
    out += "\\u{";
    while (n > 0) out.push_back(buf[--n]);
    out.push_back('}');
}

}  // namespace

std::string quoted(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 2);
    out.push_back('"');
    const auto* p = reinterpret_cast<const std::uint8_t*>(s.data());
    const std::size_t len = s.size();
    std::size_t i = 0;
    while (i < len) {
        std::size_t start = i;
        UChar32 c;
        U8_NEXT(p, i, len, c);
        switch (c) {
            case '"': out += "\\\""; continue;
            case '\\': out += "\\\\"; continue;
            case '\t': out += "\\t"; continue;
            case '\r': out += "\\r"; continue;
            case '\n': out += "\\n"; continue;
            case 0: out += "\\0"; continue;
            default: break;
        }
        if (c < 0) {
            // Not UTF-8 (Python strings always are): show the replacement character.
            append_hex_escape(out, 0xFFFD);
        } else if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else if (needs_unicode_escape(c)) {
            append_hex_escape(out, static_cast<std::uint32_t>(c));
        } else {
            out.append(s.data() + start, i - start);
        }
    }
    out.push_back('"');
    return out;
}

std::string to_upper(std::string_view s) {
    bool ascii = true;
    for (char ch : s) {
        if (static_cast<unsigned char>(ch) >= 0x80) {
            ascii = false;
            break;
        }
    }
    std::string out;
    if (ascii) {
        out.assign(s);
        for (char& ch : out) {
            if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
        }
        return out;
    }
    out.reserve(s.size());
    icu::StringByteSink<std::string> sink(&out);
    // ICU takes 32-bit lengths; the mapping has no context across code
    // points, so long texts go in pieces cut at code-point starts.
    constexpr std::size_t kPiece = std::size_t{1} << 30;
    std::size_t pos = 0;
    while (pos < s.size()) {
        std::size_t end = s.size() - pos > kPiece ? pos + kPiece : s.size();
        while (end < s.size() && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
        UErrorCode status = U_ZERO_ERROR;
        // The root locale: the plain Unicode mappings, no Turkic or Greek specials.
        icu::CaseMap::utf8ToUpper("", 0, icu::StringPiece(s.data() + pos, static_cast<std::int32_t>(end - pos)), sink,
                                  nullptr, status);
        if (U_FAILURE(status)) throw std::bad_alloc();
        pos = end;
    }
    return out;
}

}  // namespace qel::text
