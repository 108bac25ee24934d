// PyCouplingBuilder, reduce_coupling_rust and spatial_modulate_rust.
#include "bindings/frame.hpp"
#include "engine/coupling.hpp"
#include "engine/coupling/spatial_modulator.hpp"

namespace qel::py {

namespace {

// A list of count references to one 0.0: the lag matrix of a built coupling.
Obj zeros_list(std::size_t count) {
    if (count > static_cast<std::size_t>(PY_SSIZE_T_MAX)) throw std::bad_alloc();
    Obj zero = Obj::check(PyFloat_FromDouble(0.0));
    Obj list = Obj::check(PyList_New(static_cast<Py_ssize_t>(count)));
    for (std::size_t i = 0; i < count; ++i) {
        Py_INCREF(zero.get());
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), zero.get());
    }
    return list;
}

// The dict build returns: knm, a zero lag matrix of its size, n.
Dict built_coupling(std::vector<double> knm, std::uint64_t n) {
    const std::size_t count = knm.size();
    Dict d;
    d.set("knm", std::move(knm));
    d.set("alpha", zeros_list(count));
    d.set("n", n);
    return d;
}

}  // namespace

QEL_BINDINGS(coupling) {
    using coupling::CouplingBuilder;

    m.cls<CouplingBuilder>("PyCouplingBuilder", "PyCouplingBuilder()", "", []() { return CouplingBuilder{}; })
        .method("build", "build($self, n, base_strength, decay_alpha)",
                "Build coupling matrix. Returns dict with knm, alpha, n.",
                [](const CouplingBuilder&, std::uint64_t n, double base_strength,
                   double decay_alpha) -> Result<Dict, QelError> {
                    return and_then(coupling::build_knm(n, base_strength, decay_alpha),
                                    [&](std::vector<double> knm) { return built_coupling(std::move(knm), n); });
                })
        .static_method("project", "project(knm, n)", "Project Knm to enforce symmetry, non-negative, zero diagonal.",
                       [](std::vector<double> knm, std::uint64_t n) {
                           return coupling::project_knm(std::move(knm), n);
                       });

    m.function("reduce_coupling_rust", "reduce_coupling_rust(knm, reduction_factor)", "",
               [](F64Array knm, double reduction_factor) {
                   auto out = NewArray<double>::alloc(knm.size());
                   coupling::reduce_coupling(knm.span(), reduction_factor, out.span());
                   return out;
               });

    m.function("spatial_modulate_rust",
               "spatial_modulate_rust(knm, positions, n, dim, k_base, decay_form_code, decay_exponent, "
               "decay_length_scale, epsilon)",
               "",
               [](std::vector<double> knm, std::vector<double> positions, std::uint64_t n, std::uint64_t dim,
                  double k_base, std::int32_t decay_form_code, double decay_exponent, double decay_length_scale,
                  double epsilon) {
                   return coupling::spatial_modulator::spatial_modulate_flat(knm, positions, n, dim, decay_form_code,
                                                                             k_base, decay_exponent, decay_length_scale,
                                                                             epsilon);
               });
}

}  // namespace qel::py
