// The settings that every stepper class's constructor takes after its sizes:
// (..., dt=0.01, method="euler", n_substeps=1, atol=1e-6, rtol=1e-3).
#pragma once
#include <cstdint>
#include <string>

#include "bindings/frame.hpp"
#include "types/config.hpp"
#include "types/format.hpp"

namespace qel::py {

struct StepperSettings {
    double dt;
    const std::string& method;
    std::uint32_t n_substeps;
    double atol;
    double rtol;
};

// S::create(sizes..., config). An unknown method is refused before anything
// else, with its text unchanged and no prefix.
template <class S, class... Sizes>
auto make_stepper(const StepperSettings& s, Sizes... sizes) {
    auto method = parse_method(s.method);
    if (!method) raise_value_error(text::cat("unknown method: ", s.method));
    return S::create(sizes..., IntegrationConfig{s.dt, s.atol, s.rtol, s.n_substeps, *method});
}

}  // namespace qel::py
