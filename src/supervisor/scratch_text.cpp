#include "supervisor/scratch_text.hpp"

#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <new>

namespace qel::supervisor_text {

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
        case U_PARAGRAPH_SEPARATOR:
            return true;
        case U_SPACE_SEPARATOR:
            return c != 0x20;
        default:
            return false;
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
        icu::CaseMap::utf8ToUpper("", 0, icu::StringPiece(s.data() + pos, static_cast<std::int32_t>(end - pos)),
                                  sink, nullptr, status);
        if (U_FAILURE(status)) throw std::bad_alloc();
        pos = end;
    }
    return out;
}

bool is_blank(std::string_view s) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(s.data());
    const std::size_t len = s.size();
    std::size_t i = 0;
    while (i < len) {
        UChar32 c;
        U8_NEXT(p, i, len, c);
        if (c < 0 || !u_isUWhiteSpace(c)) return false;
    }
    return true;
}

}  // namespace qel::supervisor_text
