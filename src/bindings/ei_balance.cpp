// Excitatory/inhibitory balance.
#include "bindings/frame.hpp"
#include "engine/ei_balance.hpp"

namespace qel::py {

QEL_BINDINGS(ei_balance) {
    m.function("compute_ei_balance_rust", "compute_ei_balance_rust(knm_flat, n, excitatory_indices, inhibitory_indices)",
               "",
               [](F64Array knm, std::uint64_t n, I64Array exc, I64Array inh)
                   -> Result<std::tuple<double, double, double, bool, double, double, double, double>, PlainError> {
                   auto r = ei_balance::compute_ei_balance_signed(knm.span(), n, exc.span(), inh.span());
                   if (!r) return std::move(r).error();
                   const auto& b = r.value();
                   return std::tuple{b.ratio, b.excitatory_strength, b.inhibitory_strength, b.is_balanced,
                                     b.mean_ee, b.mean_ei, b.mean_ie, b.mean_ii};
               });
    m.function("adjust_ei_ratio_rust",
               "adjust_ei_ratio_rust(knm_flat, n, excitatory_indices, inhibitory_indices, target_ratio=1.0)", "",
               [](F64Array knm, std::uint64_t n, I64Array exc, I64Array inh, double target_ratio) {
                   return AsArray{ei_balance::adjust_ei_ratio(knm.span(), n, exc.span(), inh.span(), target_ratio)};
               });
}

}  // namespace qel::py
