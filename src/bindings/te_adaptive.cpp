// Transfer-entropy coupling adaptation.
#include "bindings/frame.hpp"
#include "engine/te_adaptive.hpp"

namespace qel::py {

QEL_BINDINGS(te_adaptive) {
    m.function("te_adapt_coupling_rust", "te_adapt_coupling_rust(knm, te, n, lr, decay)", "",
               [](F64Array knm, F64Array te, std::uint64_t n, double lr, double decay) {
                   return AsArray{te_adaptive::adapt_coupling(knm.span(), te.span(), n, lr, decay)};
               });
}

}  // namespace qel::py
