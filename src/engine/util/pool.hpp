// The process-wide worker pool. Every parallel loop goes through here: work is
// cut into fixed chunks, each chunk writes only its own outputs, and anything
// summed across chunks is added afterwards in chunk order, so results never
// depend on the number of workers. Worker bodies never touch Python.
//
// Workers that cannot start (a thread or memory limit) are never fatal: the
// pool uses only as many as could be started, and with none a loop runs on
// the calling thread. Chunk bodies write only their own outputs from inputs
// they do not change, so a loop cut short by such a failure is run again on
// the calling thread with the same bits.
#pragma once
#include <cstddef>

namespace qel::pool {

namespace detail {
using ChunkBody = void (*)(void* ctx, std::size_t c0, std::size_t c1);
// body(ctx, c0, c1) over the chunk indices [0, n_chunks) on the workers; false
// when they cannot be used (then none, or part, of the loop has run). Out of
// line: the loop code stays free of exception handling, which costs here.
bool run_on_workers(std::size_t n_chunks, ChunkBody body, void* ctx);
}  // namespace detail

// f(begin, end) for the chunks [c*chunk, min(n, (c+1)*chunk)).
template <class F>
void for_chunks(std::size_t n, std::size_t chunk, F&& f) {
    if (n == 0) return;
    if (chunk == 0) chunk = 1;
    std::size_t n_chunks = (n + chunk - 1) / chunk;
    auto run = [&](std::size_t c0, std::size_t c1) {
        for (std::size_t c = c0; c != c1; ++c) {
            std::size_t b = c * chunk;
            std::size_t e = b + chunk < n ? b + chunk : n;
            f(b, e);
        }
    };
    auto body = [](void* ctx, std::size_t c0, std::size_t c1) { (*static_cast<decltype(run)*>(ctx))(c0, c1); };
    if (n_chunks > 1 && detail::run_on_workers(n_chunks, body, &run)) return;
    run(0, n_chunks);
}

// f(i) for every i in [0, n), one work item each.
template <class F>
void for_each_index(std::size_t n, F&& f) {
    for_chunks(n, 1, [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i) f(i);
    });
}

}  // namespace qel::pool

// The number of worker threads that pool loops run on (at least 1), for loops
// whose split the caller fixes by the pool's size.
#include <tbb/task_arena.h>

namespace qel::pool {

inline std::size_t worker_count() {
    const int n = tbb::this_task_arena::max_concurrency();
    return n < 1 ? std::size_t{1} : static_cast<std::size_t>(n);
}

// Runs f() so that a worker waiting for the pool loops inside it takes no other
// item of an enclosing loop: nested loops then never pile a second outer item
// (and its buffers) onto one thread's stack.
template <class F>
void isolated(F&& f) {
    tbb::this_task_arena::isolate(f);
}

}  // namespace qel::pool
