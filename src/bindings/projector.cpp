// PyActionProjector.
#include "bindings/frame.hpp"
#include "supervisor/projector.hpp"
#include "types/format.hpp"
#include "types/text.hpp"

namespace qel::py {

using projector::ActionProjector;

namespace {

// warnings.warn(message); a warning turned into an error must not stop the
// construction, so whatever it raises is dropped.
void warn_ignored_key(PyObject* warn, std::string_view key, const char* table) {
    std::string msg = text::cat("PyActionProjector: ignoring unknown knob ", text::quoted(key), " in ", table);
    Obj text = Obj(PyUnicode_FromStringAndSize(msg.data(), static_cast<Py_ssize_t>(msg.size())));
    if (!text) {
        PyErr_Clear();
        return;
    }
    Obj r(PyObject_CallFunctionObjArgs(warn, text.get(), nullptr));
    if (!r) PyErr_Clear();
}

}  // namespace

QEL_BINDINGS(projector) {
    m.cls<ActionProjector>("PyActionProjector", "PyActionProjector(rate_limits, value_bounds)", "",
                           [](DictArg<std::string, double> rate_limits,
                              DictArg<std::string, std::tuple<double, double>> value_bounds) {
                               Obj warnings = Obj::check(PyImport_ImportModule("warnings"));
                               Obj warn = Obj::check(PyObject_GetAttrString(warnings.get(), "warn"));
                               ActionProjector p;
                               for (const auto& [key, rate] : rate_limits.items) {
                                   if (auto k = parse_knob(key); k.ok())
                                       p.set_rate_limit(k.value(), rate);
                                   else
                                       warn_ignored_key(warn.get(), key, "rate_limits");
                               }
                               for (const auto& [key, bounds] : value_bounds.items) {
                                   if (auto k = parse_knob(key); k.ok())
                                       p.set_bounds(k.value(), std::get<0>(bounds), std::get<1>(bounds));
                                   else
                                       warn_ignored_key(warn.get(), key, "value_bounds");
                               }
                               return p;
                           })
        .method("project", "project($self, knob, value, previous_value)", "",
                [](const ActionProjector& self, std::string knob, double value,
                   double previous_value) -> Result<double, PlainError> {
                    return and_then(parse_knob(knob), [&](Knob k) { return self.project(k, value, previous_value); });
                });
}

}  // namespace qel::py
