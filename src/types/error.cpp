#include "types/error.hpp"

#include <unicode/utf8.h>

#include <cstdint>
#include <cstdio>

#include "types/config.hpp"
#include "types/format.hpp"

namespace qel {

namespace {

const char* prefix(QelError::Kind k) {
    switch (k) {
        case QelError::Kind::InvalidDimension: return "invalid dimension: ";
        case QelError::Kind::SingularMatrix: return "singular matrix: ";
        case QelError::Kind::IntegrationDiverged: return "integration diverged: ";
        case QelError::Kind::InvalidConfig: return "invalid config: ";
        case QelError::Kind::BoundaryViolation: return "boundary violation: ";
    }
    return "";
}

const char* variant_name(QelError::Kind k) {
    switch (k) {
        case QelError::Kind::InvalidDimension: return "InvalidDimension";
        case QelError::Kind::SingularMatrix: return "SingularMatrix";
        case QelError::Kind::IntegrationDiverged: return "IntegrationDiverged";
        case QelError::Kind::InvalidConfig: return "InvalidConfig";
        case QelError::Kind::BoundaryViolation: return "BoundaryViolation";
    }
    return "";
}

}  // namespace

std::string QelError::python_text() const { return std::string(prefix(kind)) + message; }

std::string QelError::debug() const {
    std::string out = variant_name(kind);
    out += "(\"";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(message.data());
    const std::size_t len = message.size();
    for (std::size_t i = 0; i < len;) {
        std::size_t start = i;
        UChar32 cp;
        U8_NEXT(bytes, i, len, cp);
        if (cp < 0) cp = 0xFFFD;  // not UTF-8: show the replacement character
        switch (cp) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0)) {
                    char buf[16];
                    std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(cp));
                    out += buf;
                } else {
                    out.append(message, start, i - start);
                }
        }
    }
    out += "\")";
    return out;
}

std::optional<IntegrationMethod> parse_method(std::string_view s) {
    if (s == "euler") return IntegrationMethod::Euler;
    if (s == "rk4") return IntegrationMethod::RK4;
    if (s == "rk45") return IntegrationMethod::RK45;
    return std::nullopt;
}

namespace {
bool positive_finite(double v) { return v > 0.0 && v <= 1.7976931348623157e308; }
}  // namespace

Status IntegrationConfig::validate() const {
    using text::cat;
    if (!positive_finite(dt)) return QelError::invalid_config(cat("dt must be positive finite, got ", dt));
    if (n_substeps < 1) return QelError::invalid_config("n_substeps must be >= 1");
    if (!positive_finite(atol)) return QelError::invalid_config(cat("atol must be positive finite, got ", atol));
    if (!positive_finite(rtol)) return QelError::invalid_config(cat("rtol must be positive finite, got ", rtol));
    if (method == IntegrationMethod::RK45 && atol > rtol)
        return QelError::invalid_config("for RK45, rtol must be >= atol");
    return {};
}

}  // namespace qel
