// The plug-in mutual information sum over the non-zero cells of a joint
// count table, shared by the histogram measures.
#pragma once
#include <cmath>
#include <cstdint>

namespace qel {

// sum of p(a,b) * ln(p(a,b) / (p(a) * p(b))) over the cells in the order
// cells(visit) calls visit(a, b, joint count), added one by one to 0.0; row(a)
// and col(b) give the marginal counts, prob(count) a count's probability (its
// rounding is the caller's: count / total, or count * (1 / total)).
template <class Cells, class Row, class Col, class Prob>
double mutual_information_sum(Cells cells, Row row, Col col, Prob prob) {
    double mi = 0.0;
    cells([&](std::uint64_t a, std::uint64_t b, std::uint64_t count) {
        const double pab = prob(static_cast<double>(count));
        const double pa = prob(static_cast<double>(row(a)));
        const double pb = prob(static_cast<double>(col(b)));
        mi = mi + pab * std::log(pab / (pa * pb));
    });
    return mi;
}

}  // namespace qel
