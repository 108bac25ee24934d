// Supervisor value types: regimes, knobs, control actions and the state
// snapshot that the supervisor models look at.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "types/error.hpp"

namespace qel {

// Codes are the order below; escalation uses its own severity order.
enum class Regime : std::uint8_t { Nominal = 0, Degraded = 1, Critical = 2, Recovery = 3 };

enum class Knob : std::uint8_t { K = 0, alpha = 1, zeta = 2, Psi = 3 };

// Exact, case-sensitive, untrimmed matches; anything else fails with
// "unknown regime: {}" / "unknown knob: {}" and the text exactly as passed.
Result<Regime, PlainError> parse_regime(std::string_view s);
Result<Knob, PlainError> parse_knob(std::string_view s);

// "nominal", "degraded", "critical", "recovery".
std::string_view regime_name(Regime r);
// "Nominal", "Degraded", "Critical", "Recovery".
std::string_view regime_display_name(Regime r);
// "K", "alpha", "zeta", "Psi".
std::string_view knob_name(Knob k);

struct ControlAction {
    Knob knob = Knob::K;
    std::string scope;
    double value = 0.0;
    double ttl_s = 0.0;
    std::string justification;

    // First failing check; the knob is always valid.
    Result<void, PlainError> validate() const;
};

struct LayerState {
    double R = 0.0;
    double psi = 0.0;
};

// Carried with a state but read by nothing in this system.
struct ChannelMetric {
    std::optional<std::string> name;
    std::array<double, 3> values{};
};

struct UPDEState {
    std::vector<LayerState> layers;
    std::vector<ChannelMetric> channels;
    std::vector<double> cross_layer_alignment;  // layers x layers, row-major, or empty
    double stability_proxy = 0.0;
    Regime regime = Regime::Nominal;

    // First failing check: layer R in [0, 1] and finite psi, then finite
    // alignment and stability proxy.
    Result<void, PlainError> validate() const;
};

// Sum in index order divided by the count; 0.0 for none.
double mean_layer_r(std::span<const double> layer_rs);

// The standard snapshot of per-layer R values: psi 0.0, no channels, no
// alignment, stability proxy = mean R, Nominal. Never validates.
UPDEState state_from_layer_rs(std::span<const double> layer_rs);

// As above, with psi[i] taken from `psi` where it has an entry i and the
// alignment matrix copied from the caller.
UPDEState state_from_layers(std::span<const double> layer_rs, std::span<const double> psi,
                            std::span<const double> cross_layer_alignment);

}  // namespace qel
