// Distance-weighted coupling. Two operations share the pair loop and the
// weight forms that coincide: spatial_modulate_flat (Euclidean distances in
// dim dimensions, codes 0..3, anything else refused) and
// spatial_modulate_axial (signed distances on one axis, used by the
// moving-frame schedule: any code outside 1..3 is the reciprocal form, and
// its power form divides by pow(., p) instead of multiplying by pow(., -p)).
#pragma once
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "types/error.hpp"

namespace qel::coupling::spatial_modulator {

// Weight forms, written in the operation order the results are fixed by.
inline double reciprocal_weight(double d, double k) { return k / (d + 1.0); }
inline double exponential_weight(double d, double k, double length) { return std::exp((-d) / length) * k; }
inline double soft_weight(double d, double k, double eps) { return k / std::sqrt(d * d + eps); }

// out[i*n + j] = w(i, j) * knm[i*n + j] off the diagonal, 0 on it. The weight
// is symmetric in (i, j), so it is evaluated once per pair; weight(i, j) is
// called with i < j in row-major order and may fail by returning false.
template <class Weight>
bool fill_weighted(std::size_t n, std::span<const double> knm, std::span<double> out, Weight&& weight) {
    for (std::size_t i = 0; i < n; ++i) {
        out[i * n + i] = 0.0;
        for (std::size_t j = i + 1; j < n; ++j) {
            double w;
            if (!weight(i, j, w)) return false;
            out[i * n + j] = w * knm[i * n + j];
            out[j * n + i] = w * knm[j * n + i];
        }
    }
    return true;
}

// Euclidean form: knm n*n, positions n*dim point-major, code 0..3.
QelResult<std::vector<double>> spatial_modulate_flat(std::span<const double> knm, std::span<const double> positions,
                                                     std::uint64_t n, std::uint64_t dim, std::int32_t code,
                                                     double k_base, double decay_exponent, double decay_length_scale,
                                                     double epsilon);

// Axial form of the moving frame; writes K_eff into out (n*n).
Status spatial_modulate_axial(std::span<const double> positions, std::span<const double> knm, std::span<double> out,
                              std::size_t n, double k, std::uint8_t code, double p, double length, double eps);

}  // namespace qel::coupling::spatial_modulator
