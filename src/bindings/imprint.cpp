// PyImprintModel.
#include "bindings/frame.hpp"
#include "engine/imprint.hpp"

namespace qel::py {

QEL_BINDINGS(imprint) {
    using imprint::ImprintModel;

    m.cls<ImprintModel>("PyImprintModel", "PyImprintModel(n, decay_rate, saturation)", "",
                        [](std::uint64_t n, double decay_rate, double saturation) {
                            return ImprintModel::create(n, decay_rate, saturation);
                        })
        .method("update", "update($self, exposure, dt)", "",
                [](ImprintModel& self, std::vector<double> exposure, double dt) { self.update(exposure, dt); })
        .method("modulate_coupling", "modulate_coupling($self, knm)", "",
                [](const ImprintModel& self, std::vector<double> knm) { return self.modulate_coupling(knm); })
        .method("modulate_lag", "modulate_lag($self, alpha)", "",
                [](const ImprintModel& self, std::vector<double> alpha) { return self.modulate_lag(alpha); })
        .method("reset", "reset($self)", "", [](ImprintModel& self) { self.reset(); })
        .getter("m", "", [](const ImprintModel& self) { return self.m; });
}

}  // namespace qel::py
