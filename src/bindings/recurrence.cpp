// recurrence_matrix_rust, cross_recurrence_matrix_rust and rqa_rust.
#include "bindings/frame.hpp"
#include "engine/recurrence.hpp"

namespace qel::py {

template <>
struct TupleFields<recurrence::RqaMeasures> {
    using R = recurrence::RqaMeasures;
    static constexpr auto fields =
        std::tuple{&R::rr, &R::det, &R::avg_diag, &R::max_diag, &R::ent_diag, &R::lam, &R::trap_time, &R::max_vert};
};

QEL_BINDINGS(recurrence) {
    m.function("recurrence_matrix_rust", "recurrence_matrix_rust(trajectory, t, d, epsilon, angular=False)", "",
               [](F64Array trajectory, std::uint64_t t, std::uint64_t d, double epsilon, bool angular) {
                   return recurrence::recurrence_matrix(trajectory.span(), t, d, epsilon, angular,
                                                        NewArray<std::uint8_t>::alloc);
               });
    m.function("cross_recurrence_matrix_rust",
               "cross_recurrence_matrix_rust(traj_a, traj_b, t, d, epsilon, angular=False)", "",
               [](F64Array traj_a, F64Array traj_b, std::uint64_t t, std::uint64_t d, double epsilon, bool angular) {
                   return recurrence::cross_recurrence_matrix(traj_a.span(), traj_b.span(), t, d, epsilon, angular,
                                                              NewArray<std::uint8_t>::alloc);
               });
    m.function("rqa_rust", "rqa_rust(recurrence_flat, t, l_min=2, v_min=2, exclude_main_diagonal=True)",
               "Returns (rr, det, avg_diag, max_diag, ent_diag, lam, trap_time, max_vert).",
               [](U8Array recurrence_flat, std::uint64_t t, std::uint64_t l_min, std::uint64_t v_min,
                  bool exclude_main_diagonal) {
                   return recurrence::rqa(recurrence_flat.span(), t, l_min, v_min, exclude_main_diagonal);
               });
}

}  // namespace qel::py
