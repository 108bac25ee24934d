// Parallel loops that the caller can interrupt: the fixed chunks of
// pool::for_chunks run in waves, and between waves the calling thread asks
// qel::interrupted(). Chunk boundaries do not depend on the wave size or the
// number of workers, so neither changes a bit of the result.
#pragma once
#include <cstddef>

#include "engine/util/interrupt.hpp"
#include "engine/util/pool.hpp"

namespace qel::pool {

// f(begin, end) for the chunks [c*chunk, min(n, (c+1)*chunk)), up to `wave`
// chunks per pool dispatch, or one after another on the calling thread when
// `parallel` is false. Returns false when interrupted before every chunk ran.
template <class F>
bool for_chunks_interruptible(std::size_t n, std::size_t chunk, std::size_t wave, bool parallel, F&& f) {
    if (chunk == 0) chunk = 1;
    if (wave == 0) wave = 1;
    const std::size_t per_wave = wave > n / chunk ? n : chunk * wave;  // no overflow: capped by n
    for (std::size_t b = 0; b < n;) {
        const std::size_t e = n - b > per_wave ? b + per_wave : n;
        if (parallel) {
            for_chunks(e - b, chunk, [&](std::size_t cb, std::size_t ce) { f(b + cb, b + ce); });
        } else {
            for (std::size_t c = b; c < e;) {
                const std::size_t ce = e - c > chunk ? c + chunk : e;
                f(c, ce);
                c = ce;
            }
        }
        b = e;
        if (b < n && interrupted()) return false;
    }
    return true;
}

}  // namespace qel::pool
