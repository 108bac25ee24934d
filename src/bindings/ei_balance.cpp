// Excitatory/inhibitory balance.
#include "bindings/frame.hpp"
#include "engine/ei_balance.hpp"

namespace qel::py {

template <>
struct TupleFields<ei_balance::EIBalance> {
    using R = ei_balance::EIBalance;
    static constexpr auto fields = std::tuple{&R::ratio,
                                              &R::excitatory_strength,
                                              &R::inhibitory_strength,
                                              &R::is_balanced,
                                              &R::mean_ee,
                                              &R::mean_ei,
                                              &R::mean_ie,
                                              &R::mean_ii};
};

QEL_BINDINGS(ei_balance) {
    m.function("compute_ei_balance_rust",
               "compute_ei_balance_rust(knm_flat, n, excitatory_indices, inhibitory_indices)", "",
               [](F64Array knm, std::uint64_t n, I64Array exc, I64Array inh) {
                   return ei_balance::compute_ei_balance_signed(knm.span(), n, exc.span(), inh.span());
               });
    m.function("adjust_ei_ratio_rust",
               "adjust_ei_ratio_rust(knm_flat, n, excitatory_indices, inhibitory_indices, target_ratio=1.0)", "",
               [](F64Array knm, std::uint64_t n, I64Array exc, I64Array inh, double target_ratio) {
                   return AsArray{ei_balance::adjust_ei_ratio(knm.span(), n, exc.span(), inh.span(), target_ratio)};
               });
}

}  // namespace qel::py
