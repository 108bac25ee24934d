#include "supervisor/boundaries.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "types/format.hpp"
#include "types/text.hpp"

namespace qel::boundaries {

Severity parse_severity(std::string_view s) { return s == "hard" ? Severity::Hard : Severity::Soft; }

BoundaryState make_boundary_state(std::vector<std::string> hard_violations) {
    BoundaryState st;
    st.violations = hard_violations;
    st.hard_violations = std::move(hard_violations);
    return st;
}

std::string fixed4(double v) {
    // The widest finite double has 309 integral digits.
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 4);
    return std::string(buf, res.ptr);
}

std::string bound_form(std::optional<double> b) {
    if (!b) return "None";
    const double v = *b;
    const double mag = std::fabs(v);
    char buf[400];
    std::string digits;
    if (v == 0.0 || (mag >= 1e-4 && mag < 1e16)) {
        auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
        digits.assign(buf, res.ptr);
        if (digits.find('.') == std::string::npos) digits += ".0";
    } else {
        // Shortest scientific form is "d.ddde+XX"; drop the plus sign and the
        // exponent's leading zeros.
        auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
        std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
        std::size_t e = sci.find('e');
        digits.assign(sci.substr(0, e + 1));
        std::string_view exp = sci.substr(e + 1);
        if (!exp.empty() && (exp[0] == '+' || exp[0] == '-')) {
            if (exp[0] == '-') digits += '-';
            exp.remove_prefix(1);
        }
        while (exp.size() > 1 && exp[0] == '0') exp.remove_prefix(1);
        digits += exp;
    }
    return text::cat("Some(", digits, ")");
}

namespace {

bool finite_or_absent(const std::optional<double>& b) { return !b || std::isfinite(*b); }

// Definitions that can never be evaluated: blank labels, non-finite or
// crossed bounds.
bool usable(const BoundaryDef& d) {
    if (text::is_blank(d.name) || text::is_blank(d.metric)) return false;
    if (!finite_or_absent(d.lower) || !finite_or_absent(d.upper)) return false;
    if (d.lower && d.upper && *d.upper < *d.lower) return false;
    return true;
}

}  // namespace

BoundaryState BoundaryObserver::observe(std::span<const BoundaryDef> defs, MetricValues values) const {
    BoundaryState st;
    // Sorted view for lookup; among equal keys the last given wins.
    std::vector<std::pair<std::string_view, double>> index;
    index.reserve(values.size());
    for (const auto& [k, v] : values) index.emplace_back(k, v);
    std::stable_sort(index.begin(), index.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    auto lookup = [&](std::string_view key) -> std::optional<double> {
        auto it = std::upper_bound(index.begin(), index.end(), key,
                                   [](std::string_view k, const auto& e) { return k < e.first; });
        if (it == index.begin() || std::prev(it)->first != key) return std::nullopt;
        return std::prev(it)->second;
    };

    for (const BoundaryDef& d : defs) {
        if (!usable(d)) continue;
        std::optional<double> found = lookup(d.metric);
        if (!found) continue;
        const double v = *found;
        if (!std::isfinite(v)) {
            std::string msg = text::cat(d.name, ": ", d.metric, " is non-finite and treated as hard violation");
            st.violations.push_back(msg);
            st.hard_violations.push_back(std::move(msg));
            continue;
        }
        const bool outside = (d.lower && v < *d.lower) || (d.upper && v > *d.upper);
        if (!outside) continue;
        std::string msg = text::cat(d.name, ": ", d.metric, "=", fixed4(v), " outside [", bound_form(d.lower), ", ",
                                    bound_form(d.upper), "]");
        st.violations.push_back(msg);
        (d.severity == Severity::Hard ? st.hard_violations : st.soft_violations).push_back(std::move(msg));
    }
    return st;
}

}  // namespace qel::boundaries
