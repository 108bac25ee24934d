// A seeded synthetic two-hemisphere connectome: distance-decaying coupling
// with jitter inside each hemisphere, homotopic links across, and a fixed set
// of interconnected hubs; symmetric, non-negative, zero diagonal. It reads
// no data: the region count and the seed decide the matrix.
#pragma once
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>

#include "engine/util/checked.hpp"

namespace qel::connectome {

namespace detail {
void fill(std::size_t n, std::uint64_t seed, std::span<double> knm);
}

// The flat row-major n x n matrix, written into the buffer that alloc(n*n)
// returns (anything with span()).
template <class Alloc>
auto load_hcp_connectome(std::uint64_t n_regions, std::uint64_t seed, Alloc&& alloc) {
    auto len = checked_mul(n_regions, n_regions);
    if (!len) throw std::bad_alloc();  // no buffer of that many values can exist
    auto out = alloc(*len);
    detail::fill(n_regions, seed, out.span());
    return out;
}

}  // namespace qel::connectome
