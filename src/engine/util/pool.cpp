#include "engine/util/pool.hpp"

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>

namespace qel::pool::detail {

namespace {

std::atomic<bool> g_failed{false};

// A worker that fails to start on a worker thread ends the process (the pool
// cannot report it there). So before the first parallel loop, start the
// threads the pool would want, all alive at once, and let it use fewer than
// that: the pool may try to start one worker more than its limit, and the
// probe's threads ask for more stack than the pool's, so that what the process
// allocates before the workers have started does not take their room.
struct Probe {
    std::mutex m;
    std::condition_variable cv;
    bool release = false;

    static void* park(void* arg) {
        auto* p = static_cast<Probe*>(arg);
        // A first allocation gives the thread its malloc arena now, as a worker's would.
        std::free(std::malloc(64));
        std::unique_lock<std::mutex> lock(p->m);
        p->cv.wait(lock, [p] { return p->release; });
        return nullptr;
    }

    int start(int wanted, std::size_t stack_size) {
        std::vector<pthread_t> threads;
        pthread_attr_t attr;
        if (pthread_attr_init(&attr) != 0) return 0;
        pthread_attr_setstacksize(&attr, stack_size);
        for (int k = 0; k < wanted; ++k) {
            pthread_t t;
            if (pthread_create(&t, &attr, &park, this) != 0) break;
            threads.push_back(t);
        }
        pthread_attr_destroy(&attr);
        {
            std::lock_guard<std::mutex> lock(m);
            release = true;
        }
        cv.notify_all();
        for (pthread_t t : threads) pthread_join(t, nullptr);
        return static_cast<int>(threads.size());
    }
};

bool probe_workers() {
    try {
        const int workers = tbb::info::default_concurrency() - 1;
        if (workers <= 0) return false;
        constexpr std::size_t kSlack = std::size_t{4} << 20;
        const std::size_t stack =
            tbb::global_control::active_value(tbb::global_control::thread_stack_size) + kSlack;
        Probe probe;
        const int started = probe.start(workers + 1, stack);
        if (started <= 1) return false;
        if (started <= workers) {
            // started - 1 workers besides the calling thread. Never destroyed: lifting the limit at exit
            // would start more workers then.
            static auto* limit = new tbb::global_control(tbb::global_control::max_allowed_parallelism,
                                                         static_cast<std::size_t>(started));
            (void)limit;
        }
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

bool run_on_workers(std::size_t n_chunks, ChunkBody body, void* ctx) {
    static const bool probed = probe_workers();
    if (!probed || g_failed.load(std::memory_order_relaxed)) return false;
    try {
        tbb::parallel_for(
            tbb::blocked_range<std::size_t>(0, n_chunks, 1),
            [&](const tbb::blocked_range<std::size_t>& r) { body(ctx, r.begin(), r.end()); },
            tbb::simple_partitioner());
        return true;
    } catch (...) {
        g_failed.store(true, std::memory_order_relaxed);
        return false;
    }
}

}  // namespace qel::pool::detail
