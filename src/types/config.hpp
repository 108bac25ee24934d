// Settings of one stepper and their validation.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

#include "types/error.hpp"

namespace qel {

enum class IntegrationMethod : std::uint8_t { Euler = 0, RK4 = 1, RK45 = 2 };

// "euler", "rk4", "rk45" exactly; anything else is not a method.
std::optional<IntegrationMethod> parse_method(std::string_view s);

struct IntegrationConfig {
    double dt = 0.01;
    double atol = 1e-6;
    double rtol = 1e-3;
    std::uint32_t n_substeps = 1;
    IntegrationMethod method = IntegrationMethod::Euler;

    // First failing check, as InvalidConfig; changes nothing.
    Status validate() const;
};

}  // namespace qel
