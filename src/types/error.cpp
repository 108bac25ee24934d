#include "types/error.hpp"

#include "types/format.hpp"
#include "types/text.hpp"

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

std::string QelError::debug() const { return text::cat(variant_name(kind), "(", text::quoted(message), ")"); }

}  // namespace qel
