#include "types/action.hpp"

#include <cmath>

#include "types/format.hpp"
#include "types/text.hpp"

namespace qel {

namespace {
constexpr std::array<std::string_view, 4> kRegimeNames{"nominal", "degraded", "critical", "recovery"};
constexpr std::array<std::string_view, 4> kRegimeDisplay{"Nominal", "Degraded", "Critical", "Recovery"};
constexpr std::array<std::string_view, 4> kKnobNames{"K", "alpha", "zeta", "Psi"};
}  // namespace

Result<Regime, PlainError> parse_regime(std::string_view s) {
    for (std::size_t i = 0; i < kRegimeNames.size(); ++i)
        if (s == kRegimeNames[i]) return static_cast<Regime>(i);
    return PlainError{text::cat("unknown regime: ", s)};
}

Result<Knob, PlainError> parse_knob(std::string_view s) {
    for (std::size_t i = 0; i < kKnobNames.size(); ++i)
        if (s == kKnobNames[i]) return static_cast<Knob>(i);
    return PlainError{text::cat("unknown knob: ", s)};
}

std::string_view regime_name(Regime r) { return kRegimeNames[static_cast<std::size_t>(r) & 3]; }
std::string_view regime_display_name(Regime r) { return kRegimeDisplay[static_cast<std::size_t>(r) & 3]; }
std::string_view knob_name(Knob k) { return kKnobNames[static_cast<std::size_t>(k) & 3]; }

Result<void, PlainError> ControlAction::validate() const {
    if (text::is_blank(scope)) return PlainError{"control action scope must not be blank"};
    if (!std::isfinite(value)) return PlainError{"control action value must be finite"};
    if (!std::isfinite(ttl_s) || ttl_s < 0.0) return PlainError{"control action ttl_s must be finite and >= 0"};
    if (text::is_blank(justification)) return PlainError{"control action justification must not be blank"};
    return {};
}

Result<void, PlainError> UPDEState::validate() const {
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const LayerState& l = layers[i];
        if (!std::isfinite(l.R) || l.R < 0.0 || l.R > 1.0 || !std::isfinite(l.psi))
            return PlainError{text::cat("layer[", i, "] has invalid r/psi values")};
    }
    for (double a : cross_layer_alignment)
        if (!std::isfinite(a)) return PlainError{"cross-layer alignment and stability_proxy must be finite"};
    if (!std::isfinite(stability_proxy)) return PlainError{"cross-layer alignment and stability_proxy must be finite"};
    return {};
}

double mean_layer_r(std::span<const double> layer_rs) {
    if (layer_rs.empty()) return 0.0;
    double sum = 0.0;
    for (double r : layer_rs) sum += r;
    return sum / static_cast<double>(layer_rs.size());
}

UPDEState state_from_layer_rs(std::span<const double> layer_rs) { return state_from_layers(layer_rs, {}, {}); }

UPDEState state_from_layers(std::span<const double> layer_rs, std::span<const double> psi,
                            std::span<const double> cross_layer_alignment) {
    UPDEState s;
    s.layers.reserve(layer_rs.size());
    for (std::size_t i = 0; i < layer_rs.size(); ++i) s.layers.push_back({layer_rs[i], i < psi.size() ? psi[i] : 0.0});
    s.cross_layer_alignment.assign(cross_layer_alignment.begin(), cross_layer_alignment.end());
    s.stability_proxy = mean_layer_r(layer_rs);
    s.regime = Regime::Nominal;
    return s;
}

}  // namespace qel
