// The Shannon sum of a histogram, shared by every entropy of counts.
#pragma once
#include <cmath>
#include <functional>

namespace qel {

// -sum p ln p in nats over p = count / total, subtracted term by term from
// `start` in the order the counts come; counts that are not positive (and
// NaN) are passed over. count(item) gives an item's count.
template <class Items, class Count = std::identity>
double shannon_sum(const Items& items, double total, Count count = {}, double start = 0.0) {
    double h = start;
    for (const auto& item : items) {
        const double c = static_cast<double>(count(item));
        if (!(c > 0.0)) continue;
        const double p = c / total;
        h -= p * std::log(p);
    }
    return h;
}

}  // namespace qel
