#include "supervisor/petri_net.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <unordered_set>

#include "types/format.hpp"
#include "types/text.hpp"

namespace qel::petri_net {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool equals_ignoring_case(std::string_view s, std::string_view lower) {
    if (s.size() != lower.size()) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower[i]) return false;
    }
    return true;
}

// A decimal number: [+-] (digits [. digits] | . digits) [(e|E) [+-] digits],
// or inf, infinity, nan in any letter case. The grammar is checked here, so
// nothing depends on the locale; the value is the correctly rounded double,
// infinity when too large and zero when too small.
std::optional<double> parse_number(std::string_view tok) {
    bool negative = false;
    if (!tok.empty() && (tok[0] == '+' || tok[0] == '-')) {
        negative = tok[0] == '-';
        tok.remove_prefix(1);
    }
    constexpr double kInf = std::numeric_limits<double>::infinity();
    if (equals_ignoring_case(tok, "inf") || equals_ignoring_case(tok, "infinity")) return negative ? -kInf : kInf;
    if (equals_ignoring_case(tok, "nan")) return std::numeric_limits<double>::quiet_NaN();

    std::size_t i = 0;
    std::size_t int_digits = 0, frac_digits = 0;
    while (i < tok.size() && is_digit(tok[i])) ++i, ++int_digits;
    if (i < tok.size() && tok[i] == '.') {
        ++i;
        while (i < tok.size() && is_digit(tok[i])) ++i, ++frac_digits;
    }
    if (int_digits + frac_digits == 0) return std::nullopt;
    std::size_t mantissa_end = i;
    // Decimal exponent of the explicit part, saturated: only its sign matters
    // once the magnitude is past any double.
    std::int64_t exp10 = 0;
    if (i < tok.size() && (tok[i] == 'e' || tok[i] == 'E')) {
        ++i;
        bool exp_negative = false;
        if (i < tok.size() && (tok[i] == '+' || tok[i] == '-')) exp_negative = tok[i++] == '-';
        std::size_t exp_start = i;
        while (i < tok.size() && is_digit(tok[i])) {
            if (exp10 < 1'000'000'000) exp10 = exp10 * 10 + (tok[i] - '0');
            ++i;
        }
        if (i == exp_start) return std::nullopt;
        if (exp_negative) exp10 = -exp10;
    }
    if (i != tok.size()) return std::nullopt;

    double value = 0.0;
    auto [end, ec] = std::from_chars(tok.data(), tok.data() + tok.size(), value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: the position of the first
        // non-zero digit says which.
        std::int64_t lead = 0;
        std::size_t k = 0;
        while (k < mantissa_end && (tok[k] == '0' || tok[k] == '.')) ++k;
        if (k < int_digits)
            lead = static_cast<std::int64_t>(int_digits - k - 1);
        else
            lead = -static_cast<std::int64_t>(k - int_digits);  // k counts the point
        value = lead + exp10 >= 0 ? kInf : 0.0;
    } else if (ec != std::errc() || end != tok.data() + tok.size()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

}  // namespace

Result<Guard, PlainError> Guard::parse(std::string_view s) {
    std::vector<std::string_view> tokens = text::split_white_space(s);
    if (tokens.size() != 3)
        return PlainError{qel::text::cat("guard must be 'metric op threshold', got ", text::quoted(s))};
    std::optional<CompareOp> op = condition::parse_op(tokens[1]);
    if (!op) return PlainError{qel::text::cat("unknown guard operator: ", text::quoted(tokens[1]))};
    std::optional<double> threshold = parse_number(tokens[2]);
    if (!threshold) return PlainError{"invalid threshold: invalid float literal"};
    if (!std::isfinite(*threshold))
        return PlainError{qel::text::cat("guard threshold must be finite, got ", *threshold)};
    return Guard{std::string(tokens[0]), *threshold, *op};
}

bool Guard::evaluate(const MetricMap& ctx) const {
    auto it = ctx.find(metric);
    if (it == ctx.end() || !std::isfinite(it->second) || !std::isfinite(threshold)) return false;
    return condition::compare(op, it->second, threshold);
}

void Marking::set(const std::string& place, std::uint32_t count) {
    if (count > 0)
        counts_.insert_or_assign(place, count);
    else
        counts_.erase(place);
}

std::uint32_t Marking::get(const std::string& place) const {
    auto it = counts_.find(place);
    return it == counts_.end() ? 0 : it->second;
}

Result<PetriNet, PlainError> PetriNet::create(std::vector<std::string> places, std::vector<Transition> transitions) {
    for (const std::string& p : places)
        if (p.empty()) return PlainError{"place names must not be empty"};
    std::unordered_set<std::string_view> declared_set(places.begin(), places.end());
    auto declared = [&](const std::string& name) { return declared_set.count(name) != 0; };
    for (const Transition& t : transitions) {
        if (t.name.empty()) return PlainError{"transition names must not be empty"};
        if (t.guard && (text::is_blank(t.guard->metric) || !std::isfinite(t.guard->threshold)))
            return PlainError{
                qel::text::cat("transition ", text::quoted(t.name), " has invalid guard metric/threshold")};
        for (const auto* arcs : {&t.inputs, &t.outputs}) {
            for (const Arc& a : *arcs) {
                if (a.weight == 0)
                    return PlainError{qel::text::cat("transition ", text::quoted(t.name),
                                                     " has zero-weight arc for place ", text::quoted(a.place))};
                if (!declared(a.place))
                    return PlainError{qel::text::cat("transition ", text::quoted(t.name), " references unknown place ",
                                                     text::quoted(a.place))};
            }
        }
    }
    return PetriNet{std::move(places), std::move(transitions)};
}

bool PetriNet::is_enabled(const Transition& t, const Marking& m, const MetricMap& ctx) const {
    if (t.guard && !t.guard->evaluate(ctx)) return false;
    // Each arc by itself: two arcs on one place are not added up.
    for (const Arc& a : t.inputs)
        if (m.get(a.place) < a.weight) return false;
    return true;
}

std::vector<std::size_t> PetriNet::enabled(const Marking& m, const MetricMap& ctx) const {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < transitions.size(); ++i)
        if (is_enabled(transitions[i], m, ctx)) out.push_back(i);
    return out;
}

std::pair<Marking, std::optional<std::size_t>> PetriNet::step(const Marking& m, const MetricMap& ctx) const {
    for (std::size_t i = 0; i < transitions.size(); ++i) {
        const Transition& t = transitions[i];
        if (!is_enabled(t, m, ctx)) continue;
        Marking n = m;
        for (const Arc& a : t.inputs) {
            std::uint32_t c = n.get(a.place);
            n.set(a.place, c > a.weight ? c - a.weight : 0);
        }
        constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();
        for (const Arc& a : t.outputs) {
            std::uint32_t c = n.get(a.place);
            n.set(a.place, c > kMax - a.weight ? kMax : c + a.weight);
        }
        return {std::move(n), i};
    }
    return {m, std::nullopt};
}

std::vector<std::pair<std::string_view, std::uint32_t>> PetriNet::declared_counts(const Marking& m) const {
    std::vector<std::pair<std::string_view, std::uint32_t>> out;
    for (const std::string& p : places)
        if (std::uint32_t c = m.get(p)) out.emplace_back(p, c);
    return out;
}

}  // namespace qel::petri_net
