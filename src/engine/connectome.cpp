#include "engine/connectome.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/util/minmax.hpp"
#include "engine/util/mmix_lcg.hpp"

namespace qel::connectome::detail {

void fill(std::size_t n, std::uint64_t seed, std::span<double> knm) {
    std::fill(knm.begin(), knm.end(), 0.0);
    if (n < 2) return;
    double* k = knm.data();
    const std::size_t h = n / 2, rh = n - h;

    // 0.5 exp(-0.3 d) depends on the distance d alone: one exp per distance.
    std::vector<double> decay(rh);
    for (std::size_t d = 0; d < rh; ++d) decay[d] = 0.5 * std::exp(-0.3 * static_cast<double>(d));

    // One stream for both hemispheres, left first, one draw per ordered pair.
    MmixLcg rng(seed);
    auto hemisphere = [&](std::size_t base, std::size_t m) {
        for (std::size_t i = 0; i < m; ++i) {
            double* row = k + (base + i) * n + base;
            for (std::size_t j = 0; j < m; ++j) {
                if (j == i) continue;
                const double u = rng.uniform31();
                row[j] = positive_part(decay[i > j ? i - j : j - i] + (u - 0.5) * 0.04);
            }
        }
    };
    hemisphere(0, h);
    hemisphere(h, rh);

    // Homotopic links: left region i and the regions around its mirror h + i.
    const std::size_t c = std::min<std::size_t>(h, 3);
    for (std::size_t i = 0; i < h; ++i) {
        for (std::size_t j = i >= c ? i - c : 0; j <= i + c && j < h; ++j) {
            const std::size_t d = i > j ? i - j : j - i;
            const double v = 0.15 * std::exp(-0.5 * static_cast<double>(d));
            k[j * n + h + i] = v;
            k[(h + i) * n + j] = v;
        }
    }

    // Hubs at fixed fractions of the left hemisphere and their mirrors; a hub
    // listed twice takes part once per listing.
    std::size_t hubs[8];
    std::size_t n_hubs = 0;
    for (double f : {0.15, 0.45, 0.65, 0.85}) {
        const auto x = static_cast<std::size_t>(f * static_cast<double>(h));
        if (x < n) hubs[n_hubs++] = x;
        if (x + h < n) hubs[n_hubs++] = x + h;
    }
    for (std::size_t a = 0; a < n_hubs; ++a)
        for (std::size_t b = 0; b < n_hubs; ++b)
            if (hubs[a] != hubs[b]) k[hubs[a] * n + hubs[b]] += 0.3;

    // Symmetrise and clean. Each pair reads only its own two entries, so the
    // pairs may go in tiles, which keeps the column side in cache.
    constexpr std::size_t kTile = 32;
    for (std::size_t i0 = 0; i0 < n; i0 += kTile) {
        const std::size_t i1 = std::min(n, i0 + kTile);
        for (std::size_t j0 = i0; j0 < n; j0 += kTile) {
            const std::size_t j1 = std::min(n, j0 + kTile);
            for (std::size_t i = i0; i < i1; ++i) {
                for (std::size_t j = std::max(j0, i + 1); j < j1; ++j) {
                    const double v = std::max(0.0, (k[i * n + j] + k[j * n + i]) * 0.5);
                    k[i * n + j] = v;
                    k[j * n + i] = v;
                }
            }
        }
        for (std::size_t i = i0; i < i1; ++i) k[i * n + i] = 0.0;
    }
}

}  // namespace qel::connectome::detail
