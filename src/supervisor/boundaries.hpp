// Declared bounds on named metrics, and the soft and hard violations of a
// set of metric values.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qel::boundaries {

enum class Severity : std::uint8_t { Hard = 0, Soft = 1 };

// Exactly "hard" is hard; every other text, the empty one included, is soft.
Severity parse_severity(std::string_view s);

struct BoundaryDef {
    std::string name;    // label, used only in messages
    std::string metric;  // key looked up in the values
    std::optional<double> lower;
    std::optional<double> upper;
    Severity severity = Severity::Soft;
};

struct BoundaryState {
    std::vector<std::string> violations;  // every message, in definition order
    std::vector<std::string> soft_violations;
    std::vector<std::string> hard_violations;
};

// The boundary input of the regime models, from a caller's list of hard
// violations.
BoundaryState make_boundary_state(std::vector<std::string> hard_violations);

// Metric values keyed by their exact (untrimmed) names.
using MetricValues = std::span<const std::pair<std::string, double>>;

class BoundaryObserver {
public:
    // Definitions that cannot be evaluated are skipped silently; never fails.
    BoundaryState observe(std::span<const BoundaryDef> defs, MetricValues values) const;
};

// Message forms, exposed for their own tests.
// Fixed point with four decimals, correctly rounded, sign kept: -0.0000.
std::string fixed4(double v);
// "None", or "Some(b)" with b the shortest round-trip digits: plain with a
// fractional part for 0 and 1e-4 <= |b| < 1e16, else d.ddde-x.
std::string bound_form(std::optional<double> b);

}  // namespace qel::boundaries
