// Prior beliefs about a coupling matrix: a two-parameter distance-decay
// profile and the Gaussian log-prior of those parameters.
#pragma once
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>

#include "engine/util/checked.hpp"

namespace qel::prior {

namespace detail {
void fill_distance_decay(std::size_t n, double k_base, double decay_alpha, std::span<double> knm);
}

// K_ij = exp(|i - j| * (-decay_alpha)) * k_base off the diagonal, 0 on it:
// flat row-major n x n, written into the buffer that alloc(n*n) returns.
template <class Alloc>
auto prior_distance_decay(std::uint64_t n, double k_base, double decay_alpha, Alloc&& alloc) {
    auto len = checked_mul(n, n);
    if (!len) throw std::bad_alloc();  // no buffer of that many values can exist
    auto out = alloc(*len);
    detail::fill_distance_decay(n, k_base, decay_alpha, out.span());
    return out;
}

// -z_k^2/2 - z_alpha^2/2 with z = (value - mean) / std; the Gaussians'
// normalising constants are left out and nothing is checked.
double prior_log_probability(double k_base, double decay_alpha, double k_mean, double k_std, double alpha_mean,
                             double alpha_std);

}  // namespace qel::prior
