// Phase lags from propagation delays over physical distances.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::lags {

struct LagModel {
    std::vector<double> alpha;  // n*n, row-major, antisymmetric when estimated
    std::uint64_t n = 0;

    static QelResult<LagModel> zeros(std::uint64_t n);
    // alpha[i*n + j] = d[i*n + j] * 2pi / speed for i < j, negated below.
    static QelResult<LagModel> estimate_from_distances(std::span<const double> distances, std::uint64_t n,
                                                       double speed);
};

}  // namespace qel::lags
