// The process-wide worker pool. Every parallel loop goes through here: work is
// cut into fixed chunks, each chunk writes only its own outputs, and anything
// summed across chunks is added afterwards in chunk order, so results never
// depend on the number of workers. Worker bodies never touch Python.
#pragma once
#include <cstddef>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>

namespace qel::pool {

// f(begin, end) for the chunks [c*chunk, min(n, (c+1)*chunk)).
template <class F>
void for_chunks(std::size_t n, std::size_t chunk, F&& f) {
    if (n == 0) return;
    if (chunk == 0) chunk = 1;
    std::size_t n_chunks = (n + chunk - 1) / chunk;
    tbb::parallel_for(
        tbb::blocked_range<std::size_t>(0, n_chunks, 1),
        [&](const tbb::blocked_range<std::size_t>& r) {
            for (std::size_t c = r.begin(); c != r.end(); ++c) {
                std::size_t b = c * chunk;
                std::size_t e = b + chunk < n ? b + chunk : n;
                f(b, e);
            }
        },
        tbb::simple_partitioner());
}

// f(i) for every i in [0, n), one work item each.
template <class F>
void for_each_index(std::size_t n, F&& f) {
    for_chunks(n, 1, [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i) f(i);
    });
}

// Runs f() so that a worker waiting for the pool loops inside it takes no other
// item of an enclosing loop: nested loops then never pile a second outer item
// (and its buffers) onto one thread's stack.
template <class F>
void isolated(F&& f) {
    tbb::this_task_arena::isolate(f);
}

}  // namespace qel::pool
