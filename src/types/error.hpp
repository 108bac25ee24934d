// The engine's error values. Engine code returns them; only bindings/ turns
// them into Python exceptions.
#pragma once
#include <cstdint>
#include <source_location>
#include <string>

#include "types/result.hpp"

namespace qel {

struct QelError {
    enum class Kind : std::uint8_t {
        InvalidDimension = 0,
        SingularMatrix = 1,
        IntegrationDiverged = 2,
        InvalidConfig = 3,
        BoundaryViolation = 4,
    };

    Kind kind = Kind::InvalidDimension;
    std::string message;

    static QelError invalid_dimension(std::string m) { return {Kind::InvalidDimension, std::move(m)}; }
    static QelError singular_matrix(std::string m) { return {Kind::SingularMatrix, std::move(m)}; }
    static QelError integration_diverged(std::string m) { return {Kind::IntegrationDiverged, std::move(m)}; }
    static QelError invalid_config(std::string m) { return {Kind::InvalidConfig, std::move(m)}; }
    static QelError boundary_violation(std::string m) { return {Kind::BoundaryViolation, std::move(m)}; }

    // "invalid dimension: " and so on: the text a Python ValueError carries.
    std::string python_text() const;
    // Variant name and the message in the quoted form of text::quoted: InvalidDimension("n must be > 0").
    std::string debug() const;
};

// A failure reported with the bare message (no prefix): a ValueError, or, when
// `internal` is set, the module's internal-error exception (an InternalError,
// below).
struct PlainError {
    std::string message;
    bool internal = false;
    std::source_location where = {};  // of an internal error, for the failure report

    static PlainError value_error(std::string m) { return {std::move(m), false}; }
};

// A condition the engine cannot continue from ("capacity overflow", an index
// past the end of an input that was not checked, a stepper that a run function
// could not build). Returned as the error of a Result, where it also passes as
// a PlainError; the module raises its internal-error exception with the
// message and reports where the error was made:
//     if (!total) return InternalError("capacity overflow");
// A function that fails either way with a QelError returns
// Result<T, std::variant<QelError, InternalError>> (each alternative is raised
// as its own kind).
struct InternalError : PlainError {
    explicit InternalError(std::string m, std::source_location w = std::source_location::current())
        : PlainError{std::move(m), true, w} {}
};

template <class T>
using QelResult = Result<T, QelError>;
using Status = Result<void, QelError>;

}  // namespace qel
