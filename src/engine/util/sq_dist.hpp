// Squared Euclidean distances from one point to a run of points, with the
// coordinates stored column by column (coordinate c of point j at
// cols[c * stride + j]). Each distance is summed over the coordinates in
// order, from 0.0; eight distances are formed together in registers.
#pragma once
#include <cstddef>

namespace qel {

// out[q] = sum over c < d of (coordinate c of point i - coordinate c of point j0 + q)^2, q < len.
inline void sq_distances(const double* cols, std::size_t stride, std::size_t d, std::size_t i, std::size_t j0,
                         std::size_t len, double* out) {
    constexpr std::size_t kLanes = 8;
    std::size_t q = 0;
    for (; q + kLanes <= len; q += kLanes) {
        double acc[kLanes] = {};
        for (std::size_t c = 0; c < d; ++c) {
            const double xi = cols[c * stride + i];
            const double* col = cols + c * stride + j0 + q;
            for (std::size_t l = 0; l < kLanes; ++l) {
                const double diff = xi - col[l];
                acc[l] += diff * diff;
            }
        }
        for (std::size_t l = 0; l < kLanes; ++l) out[q + l] = acc[l];
    }
    for (; q < len; ++q) {
        double acc = 0.0;
        for (std::size_t c = 0; c < d; ++c) {
            const double diff = cols[c * stride + i] - cols[c * stride + j0 + q];
            acc += diff * diff;
        }
        out[q] = acc;
    }
}

}  // namespace qel
