#include "engine/util/pool.hpp"

#include <pthread.h>

#include <algorithm>
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
#include <tbb/task_group.h>

#include "engine/util/pool_stop.hpp"

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
        const std::size_t stack = tbb::global_control::active_value(tbb::global_control::thread_stack_size) + kSlack;
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

bool workers_usable() {
    static const bool probed = probe_workers();
    return probed && !g_failed.load(std::memory_order_relaxed);
}

}  // namespace

bool run_on_workers(std::size_t n_chunks, ChunkBody body, void* ctx) {
    if (!workers_usable()) return false;
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

namespace {

// What the calling thread and the worker drains of one stoppable loop share.
struct StopLoop {
    std::size_t n_chunks;
    StopBody body;
    void* ctx;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::atomic<int> active{0};  // worker drains inside their loop
    std::mutex m;
    std::condition_variable cv;

    // Takes chunks until none is left or the loop is stopped. Each body runs
    // isolated: a worker waiting inside it for a nested loop takes no other
    // chunk of this one.
    void drain(const Stop& s, detail::CallerPoll* caller) {
        for (;;) {
            if (caller ? caller->poll() : stop.load(std::memory_order_relaxed)) return;
            const std::size_t c = next.fetch_add(1, std::memory_order_relaxed);
            if (c >= n_chunks) return;
            tbb::this_task_arena::isolate([&] { body(ctx, c, s); });
        }
    }

    void worker() {
        // Leaves even when a body throws, so that the calling thread's wait ends.
        struct Active {
            StopLoop& l;
            explicit Active(StopLoop& loop) : l(loop) { l.active.fetch_add(1, std::memory_order_acq_rel); }
            ~Active() {
                if (l.active.fetch_sub(1, std::memory_order_acq_rel) == 1) {
                    std::lock_guard<std::mutex> lock(l.m);
                    l.cv.notify_all();
                }
            }
        } in(*this);
        drain(Stop(stop, nullptr), nullptr);
    }
};

}  // namespace

bool run_stoppable(std::size_t n_chunks, bool parallel, StopBody body, void* ctx) {
    StopLoop loop{n_chunks, body, ctx};
    detail::CallerPoll caller(loop.stop);
    const Stop on_caller(loop.stop, &caller);
    const std::size_t helpers = parallel && workers_usable() ? std::min(worker_count(), n_chunks) - 1 : 0;
    if (helpers == 0) {
        loop.drain(on_caller, &caller);
        return !loop.stop.load(std::memory_order_relaxed);
    }
    bool failed = false;
    tbb::this_task_arena::isolate([&] {
        tbb::task_group group;
        try {
            for (std::size_t k = 0; k < helpers; ++k) group.run([&loop] { loop.worker(); });
        } catch (...) {
            // Fewer helpers: the calling thread takes what the others would have.
        }
        try {
            loop.drain(on_caller, &caller);
        } catch (...) {
            failed = true;
            loop.stop.store(true, std::memory_order_relaxed);
        }
        // The last chunks run on workers: wait for them, still asking the hook.
        {
            std::unique_lock<std::mutex> lock(loop.m);
            while (loop.active.load(std::memory_order_acquire) > 0) {
                loop.cv.wait_for(lock, kPollPeriod);
                lock.unlock();
                caller.poll();
                lock.lock();
            }
        }
        // Drains that had not started find no chunk (or the stop) and return at once.
        try {
            group.wait();
        } catch (...) {
            failed = true;
        }
    });
    if (failed) {
        // A worker drain that failed part-way: chunks write
        // only their own outputs, so the calling thread runs them all again.
        g_failed.store(true, std::memory_order_relaxed);
        if (caller.said_yes()) return false;
        StopLoop again{n_chunks, body, ctx};
        detail::CallerPoll poll_again(again.stop);
        again.drain(Stop(again.stop, &poll_again), &poll_again);
        return !again.stop.load(std::memory_order_relaxed);
    }
    return !loop.stop.load(std::memory_order_relaxed);
}

}  // namespace qel::pool::detail
