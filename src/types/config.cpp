#include "types/config.hpp"

#include "types/format.hpp"

namespace qel {

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
