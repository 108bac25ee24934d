#include "engine/util/pool.hpp"

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <tbb/global_control.h>
#include <tbb/info.h>

namespace qel::pool::detail {

namespace {

std::atomic<bool> g_failed{false};

// A worker that fails to start on a worker thread ends the process (the pool
// cannot report it there). So before the first parallel loop, start as many
// threads as the pool would, with its stack size, all alive at once, and let
// the pool use no more than that.
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
        if (stack_size > 0) pthread_attr_setstacksize(&attr, stack_size);
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
        const int wanted = tbb::info::default_concurrency() - 1;
        if (wanted <= 0) return false;
        const std::size_t stack = tbb::global_control::active_value(tbb::global_control::thread_stack_size);
        Probe probe;
        const int started = probe.start(wanted, stack);
        if (started == 0) return false;
        if (started < wanted) {
            // Kept for the life of the process.
            static tbb::global_control limit(tbb::global_control::max_allowed_parallelism,
                                             static_cast<std::size_t>(started) + 1);
        }
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

bool workers_usable() {
    static const bool probed = probe_workers();
    return probed && !g_failed.load(std::memory_order_relaxed);
}

void workers_failed() { g_failed.store(true, std::memory_order_relaxed); }

}  // namespace qel::pool::detail
