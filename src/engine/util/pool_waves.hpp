// Parallel loops that the caller can interrupt between chunks: the fixed
// chunks of pool::for_chunks, run as a stoppable loop (pool_stop.hpp), so
// Ctrl-C is seen within about one chunk. Chunk boundaries do not depend on the
// number of workers, so it changes no bit of the result.
#pragma once
#include <cstddef>

#include "engine/util/pool.hpp"
#include "engine/util/pool_stop.hpp"

namespace qel::pool {

// f(begin, end) for the chunks [c*chunk, min(n, (c+1)*chunk)), on the pool,
// or one after another on the calling thread when `parallel` is false.
// Returns false when interrupted before every chunk ran. `wave` (how many
// chunks once ran between two checks) no longer matters: the calling thread
// checks between chunks and while it waits for the workers.
template <class F>
bool for_chunks_interruptible(std::size_t n, std::size_t chunk, std::size_t /*wave*/, bool parallel, F&& f) {
    return for_chunks_stoppable(n, chunk, parallel, [&](std::size_t b, std::size_t e, const Stop&) { f(b, e); });
}

}  // namespace qel::pool
