// recurrence_matrix_rust, cross_recurrence_matrix_rust and rqa_rust.
#include "bindings/frame.hpp"
#include "engine/recurrence.hpp"

namespace qel::py {

namespace {

// The engine writes the matrix straight into the array that is returned.
struct U8Sink {
    NewArray<std::uint8_t> array;
    recurrence::ByteSink sink() {
        return [this](std::size_t n) {
            array = NewArray<std::uint8_t>::alloc(n);
            return array.span();
        };
    }
};

Result<NewArray<std::uint8_t>, PlainError> filled(U8Sink& out, Result<void, PlainError> status) {
    if (!status) return std::move(status).error();
    return std::move(out.array);
}

}  // namespace

QEL_BINDINGS(recurrence) {
    m.function("recurrence_matrix_rust", "recurrence_matrix_rust(trajectory, t, d, epsilon, angular=False)", "",
               [](F64Array trajectory, std::uint64_t t, std::uint64_t d, double epsilon, bool angular) {
                   U8Sink out;
                   return filled(out, recurrence::recurrence_matrix(trajectory.span(), t, d, epsilon, angular,
                                                                    out.sink()));
               });
    m.function("cross_recurrence_matrix_rust",
               "cross_recurrence_matrix_rust(traj_a, traj_b, t, d, epsilon, angular=False)", "",
               [](F64Array traj_a, F64Array traj_b, std::uint64_t t, std::uint64_t d, double epsilon, bool angular) {
                   U8Sink out;
                   return filled(out, recurrence::cross_recurrence_matrix(traj_a.span(), traj_b.span(), t, d,
                                                                          epsilon, angular, out.sink()));
               });
    m.function("rqa_rust", "rqa_rust(recurrence_flat, t, l_min=2, v_min=2, exclude_main_diagonal=True)",
               "Returns (rr, det, avg_diag, max_diag, ent_diag, lam, trap_time, max_vert).",
               [](U8Array recurrence_flat, std::uint64_t t, std::uint64_t l_min, std::uint64_t v_min,
                  bool exclude_main_diagonal) -> Result<std::tuple<double, double, double, std::uint64_t, double,
                                                                   double, double, std::uint64_t>,
                                                        PlainError> {
                   auto r = recurrence::rqa(recurrence_flat.span(), t, l_min, v_min, exclude_main_diagonal);
                   if (!r) return std::move(r).error();
                   const auto& q = r.value();
                   return std::tuple{q.rr, q.det, q.avg_diag, q.max_diag, q.ent_diag, q.lam, q.trap_time, q.max_vert};
               });
}

}  // namespace qel::py
