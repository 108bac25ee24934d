// PyLagModel: built only by its static constructors.
#include "bindings/frame.hpp"
#include "engine/lags.hpp"

namespace qel::py {

QEL_BINDINGS(lags) {
    using lags::LagModel;


    m.cls_no_constructor<LagModel>("PyLagModel", "")
        .static_method("zeros", "zeros(n)", "",
                       [](std::uint64_t n) -> Result<New<LagModel>, QelError> {
                           auto r = LagModel::zeros(n);
                           if (!r) return std::move(r).error();
                           return New<LagModel>{std::move(r).value()};
                       })
        .static_method("estimate", "estimate(distances, n, speed)", "",
                       [](std::vector<double> distances, std::uint64_t n,
                          double speed) -> Result<New<LagModel>, QelError> {
                           auto r = LagModel::estimate_from_distances(distances, n, speed);
                           if (!r) return std::move(r).error();
                           return New<LagModel>{std::move(r).value()};
                       })
        .getter("n", "", [](const LagModel& self) { return self.n; })
        .getter("alpha", "", [](const LagModel& self) { return self.alpha; });
}

}  // namespace qel::py
