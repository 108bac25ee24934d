// A fire count at its largest value must stay there, never wrap to 0. Four billion
// firings are out of reach from Python, so this sets the record near the end directly.
#include <cstdint>
#include <cstdio>
#include <limits>

#include "expect.hpp"
#include "supervisor/rule_engine.hpp"

using namespace qel::rule_engine;

int main() {
    constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();
    for (std::uint32_t max_fires : {0u, kMax}) {
        PolicyRule r;
        r.name = "r";
        r.regimes = {"NOMINAL"};
        r.actions = {RuleAction{"K", "global", 1.0, 0.0}};
        r.condition = Condition{"R", 0.5, CompareOp::Lt};
        r.max_fires = max_fires;
        auto built = RuleEngine::create({r});
        if (!built.ok()) return 2;
        RuleEngine e = std::move(built).value();
        e.records["r"] = RuleEngine::Record{kMax - 1, 0.0};
        // unlimited: fires on and on; the largest limit: fires once more, then stops
        const std::size_t expected[2] = {1, max_fires == 0 ? 1u : 0u};
        for (std::size_t k = 0; k < 2; ++k) {
            std::size_t n = e.evaluate("nominal", MetricMap{{"R", 0.1}}).size();
            expect(n == expected[k] && e.fire_count("r") == kMax, "fires as its limit says, count kept at the top",
                   long(max_fires == 0 ? k : 2 + k));
        }
    }
    return failures();
}
