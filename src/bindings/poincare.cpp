// poincare_section_rust and phase_poincare_rust.
#include "bindings/frame.hpp"
#include "engine/poincare.hpp"

namespace qel::py {

namespace {

using Triple = std::tuple<NewArray<double>, NewArray<double>, std::uint64_t>;

Result<Triple, PlainError> triple(Result<poincare::Crossings, PlainError> r) {
    if (!r) return std::move(r).error();
    const poincare::Crossings& c = r.value();
    auto points = NewArray<double>::alloc(c.count() * c.dim());
    auto times = NewArray<double>::alloc(c.count());
    c.write(points.span(), times.span());
    return Triple{std::move(points), std::move(times), c.count()};
}

}  // namespace

QEL_BINDINGS(poincare) {
    m.function("poincare_section_rust",
               "poincare_section_rust(traj_flat, t, d, normal, offset=0.0, direction=\"positive\")",
               "Returns (crossings_flat, crossing_times, n_crossings).",
               [](F64Array traj_flat, std::uint64_t t, std::uint64_t d, F64Array normal, double offset,
                  std::string direction) -> Result<Triple, PlainError> {
                   auto dir = poincare::parse_direction(direction);
                   if (!dir) return std::move(dir).error();
                   return triple(poincare::poincare_section(traj_flat.span(), t, d, normal.span(), offset,
                                                            dir.value()));
               });
    m.function("phase_poincare_rust", "phase_poincare_rust(phases_flat, t, n, oscillator_idx=0, section_phase=0.0)",
               "",
               [](F64Array phases_flat, std::uint64_t t, std::uint64_t n, std::uint64_t oscillator_idx,
                  double section_phase) {
                   return triple(poincare::phase_poincare(phases_flat.span(), t, n, oscillator_idx, section_phase));
               });
}

}  // namespace qel::py
