// PyLagModel: built only by its static constructors.
#include "bindings/frame.hpp"
#include "engine/lags.hpp"

namespace qel::py {

QEL_BINDINGS(lags) {
    using lags::LagModel;

    m.cls_no_constructor<LagModel>("PyLagModel", "")
        .static_method("zeros", "zeros(n)", "", [](std::uint64_t n) { return New{LagModel::zeros(n)}; })
        .static_method("estimate", "estimate(distances, n, speed)", "",
                       [](std::vector<double> distances, std::uint64_t n, double speed) {
                           return New{LagModel::estimate_from_distances(distances, n, speed)};
                       })
        .getter("n", "", [](const LagModel& self) { return self.n; })
        .getter("alpha", "", [](const LagModel& self) { return self.alpha; });
}

}  // namespace qel::py
