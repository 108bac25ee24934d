// Pool loops that Ctrl-C can stop while they run.
//
// Only the calling thread (it holds the interpreter lock) may ask
// qel::interrupted(); pool workers must not. So the loop's chunks are handed
// out one at a time from a shared counter to the workers and to the calling
// thread alike, and the calling thread asks the hook whenever its chunk body
// checks the Stop it is given (at most every kPollPeriod) and between its
// chunks. When the hook says yes it raises a stop flag; every body reads that
// flag (a relaxed atomic load) between its own items and returns early, and no
// further chunk starts. Once the calling thread runs out of chunks it waits
// for the workers' last ones with a timed wait, still asking the hook, so the
// latency is bounded by the poll period plus the longest stretch a body runs
// without checking its Stop, never by a whole chunk on some other thread.
//
// Chunks are fixed ([c*chunk, min(n, (c+1)*chunk))) and write only their own
// outputs from inputs they do not change, so neither the order in which they
// are taken nor the number of workers changes a bit, and an interrupted loop
// leaves its inputs as they were. Call only from the thread that holds the
// interpreter lock, never from inside a pool task.
#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <thread>

#include "engine/util/interrupt.hpp"

namespace qel::pool {

inline constexpr std::chrono::milliseconds kPollPeriod{20};

namespace detail {
// The calling thread's side: asks the hook at most every kPollPeriod, and
// only on the thread that made it (a body may hand its Stop to nested pool
// tasks, which then only read the flag).
class CallerPoll {
public:
    explicit CallerPoll(std::atomic<bool>& flag) : flag_(flag) {}
    bool poll() {
        if (flag_.load(std::memory_order_relaxed)) return true;
        if (std::this_thread::get_id() != thread_) return false;
        const auto now = std::chrono::steady_clock::now();
        if (now < next_) return false;
        next_ = now + kPollPeriod;
        if (!interrupted()) return false;
        yes_ = true;
        flag_.store(true, std::memory_order_relaxed);
        return true;
    }
    // Whether the hook said yes (the flag may also be raised to abandon a failed loop).
    bool said_yes() const { return yes_; }

private:
    std::atomic<bool>& flag_;
    const std::thread::id thread_ = std::this_thread::get_id();
    std::chrono::steady_clock::time_point next_{};
    bool yes_ = false;
};
}  // namespace detail

// What a chunk body asks between its items: true means skip the rest (the
// loop's result is discarded). It may be asked from nested pool tasks too.
class Stop {
public:
    Stop(const std::atomic<bool>& flag, detail::CallerPoll* caller) : flag_(&flag), caller_(caller) {}
    bool operator()() const { return caller_ ? caller_->poll() : flag_->load(std::memory_order_relaxed); }

private:
    const std::atomic<bool>* flag_;
    detail::CallerPoll* caller_;  // set on the calling thread only
};

namespace detail {
using StopBody = void (*)(void* ctx, std::size_t c, const Stop& stop);
// body(ctx, c, stop) for the chunk indices [0, n_chunks), on the workers and
// the calling thread, or on the calling thread only when `parallel` is false.
// False when stopped.
bool run_stoppable(std::size_t n_chunks, bool parallel, StopBody body, void* ctx);
}  // namespace detail

// f(begin, end, stop) for the chunks [c*chunk, min(n, (c+1)*chunk)). Returns
// false when interrupted (some chunks then ran partly or not at all).
template <class F>
[[nodiscard]] bool for_chunks_stoppable(std::size_t n, std::size_t chunk, bool parallel, F&& f) {
    if (n == 0) return true;
    if (chunk == 0) chunk = 1;
    const std::size_t n_chunks = n / chunk + (n % chunk != 0);
    auto run = [&](std::size_t c, const Stop& stop) {
        const std::size_t b = c * chunk;
        const std::size_t e = n - b > chunk ? b + chunk : n;
        f(b, e, stop);
    };
    auto body = [](void* ctx, std::size_t c, const Stop& stop) { (*static_cast<decltype(run)*>(ctx))(c, stop); };
    return detail::run_stoppable(n_chunks, parallel && n_chunks > 1, body, &run);
}

// for_chunks_stoppable for bodies that do not look at the Stop themselves:
// Ctrl-C is then seen between chunks.
template <class F>
[[nodiscard]] bool for_chunks_interruptible(std::size_t n, std::size_t chunk, bool parallel, F&& f) {
    return for_chunks_stoppable(n, chunk, parallel, [&](std::size_t b, std::size_t e, const Stop&) { f(b, e); });
}

// f(i, stop) for every i in [0, n), one work item each.
template <class F>
[[nodiscard]] bool for_each_index_stoppable(std::size_t n, F&& f) {
    return for_chunks_stoppable(n, 1, true, [&](std::size_t b, std::size_t, const Stop& stop) { f(b, stop); });
}

}  // namespace qel::pool
