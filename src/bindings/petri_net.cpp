// PyPetriNet.
#include "bindings/frame.hpp"
#include "supervisor/petri_net.hpp"
#include "types/format.hpp"

namespace qel::py {

using petri_net::Arc;
using petri_net::Guard;
using petri_net::Marking;
using petri_net::MetricMap;
using petri_net::PetriNet;
using petri_net::Transition;

namespace {

using ArcItems = std::vector<std::tuple<std::string, std::uint32_t>>;
using TransitionItem = std::tuple<std::string, ArcItems, ArcItems, std::optional<std::string>>;

std::vector<Arc> arcs(ArcItems& items) {
    std::vector<Arc> out;
    out.reserve(items.size());
    for (auto& [place, weight] : items) out.push_back({std::move(place), weight});
    return out;
}

Marking marking(DictArg<std::string, std::uint32_t>& tokens) {
    Marking m;
    for (auto& [place, count] : tokens.items) m.set(place, count);
    return m;
}

}  // namespace

QEL_BINDINGS(petri_net) {
    m.cls<PetriNet>("PyPetriNet", "PyPetriNet(places, transitions)", "",
                    [](std::vector<std::string> places,
                       std::vector<TransitionItem> transitions) -> Result<PetriNet, PlainError> {
                        // Every guard is parsed before any place or arc is checked.
                        std::vector<Transition> ts;
                        ts.reserve(transitions.size());
                        for (auto& [name, inputs, outputs, guard_text] : transitions) {
                            Transition t{std::move(name), arcs(inputs), arcs(outputs), std::nullopt};
                            if (guard_text) {
                                auto g = Guard::parse(*guard_text);
                                if (!g.ok()) return PlainError{text::cat("guard parse error: ", g.error().message)};
                                t.guard = std::move(g).value();
                            }
                            ts.push_back(std::move(t));
                        }
                        return PetriNet::create(std::move(places), std::move(ts));
                    })
        .method("step", "step($self, tokens, ctx)",
                "Step: fire first enabled transition. Returns (tokens_dict, fired_name_or_none).",
                [](const PetriNet& net, DictArg<std::string, std::uint32_t> tokens, MetricMap ctx) {
                    auto [next, fired] = net.step(marking(tokens), ctx);
                    Dict d;
                    for (const auto& [place, count] : net.declared_counts(next)) d.set(place, count);
                    Obj name = fired ? Obj::check(to_py_string(net.transitions[*fired].name)) : Obj::borrow(Py_None);
                    return std::tuple{std::move(d), std::move(name)};
                })
        .method("enabled", "enabled($self, tokens, ctx)", "Return names of all enabled transitions.",
                [](const PetriNet& net, DictArg<std::string, std::uint32_t> tokens, MetricMap ctx) {
                    std::vector<std::string> names;
                    for (std::size_t i : net.enabled(marking(tokens), ctx)) names.push_back(net.transitions[i].name);
                    return names;
                })
        .method("active_places", "active_places($self, tokens)", "",
                [](const PetriNet&, DictArg<std::string, std::uint32_t> tokens) {
                    Marking mk = marking(tokens);
                    std::vector<std::string> names;
                    names.reserve(mk.entries().size());
                    for (const auto& [place, count] : mk.entries()) names.push_back(place);
                    return names;
                })
        .getter("place_names", "", [](const PetriNet& net) { return net.places; })
        .getter("transition_names", "", [](const PetriNet& net) {
            std::vector<std::string> names;
            names.reserve(net.transitions.size());
            for (const Transition& t : net.transitions) names.push_back(t.name);
            return names;
        });
}

}  // namespace qel::py
