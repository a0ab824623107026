#pragma once

// Splitting one entry's work over the cores. The entry still returns only when
// every piece is done; the progress callback runs on the caller's thread only.

#include "imglib.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace imglib {

// Threads worth starting for `work` units (pixels touched): one for small
// pictures, where starting a thread costs more than it saves.
[[nodiscard]] inline int ThreadsFor(int64_t work)
{
    if (work < 512 * 1024)
        return 1;
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 8u));
}

// Calls body(begin, end) for consecutive pieces of [0, count), `piece` at a
// time, on `threads` threads including the caller's. After each piece the
// caller's thread finishes it reports percent (from..to) to the callback; a 0
// from it stops every thread after its current piece and the result is false.
// An exception thrown by the body on any thread is rethrown here.
template <class Body>
[[nodiscard]] bool ParallelFor(int64_t count, int64_t piece, int threads, Body&& body,
                               ILProgress callback = nullptr, void* control = nullptr,
                               int from = 0, int to = 100)
{
    piece = std::max<int64_t>(piece, 1);
    std::atomic<int64_t> next{0};
    std::atomic<int64_t> done{0};
    std::atomic<bool> stop{false};
    bool cancelled = false;
    std::exception_ptr error;
    std::mutex errorLock;

    const auto work = [&](bool caller) {
        try {
            while (!stop.load(std::memory_order_relaxed)) {
                const int64_t begin = next.fetch_add(piece);
                if (begin >= count)
                    return;
                const int64_t end = std::min(begin + piece, count);
                body(begin, end);
                const int64_t finished = done.fetch_add(end - begin) + (end - begin);
                if (caller && callback != nullptr &&
                    callback(from + static_cast<int>((to - from) * finished / std::max<int64_t>(count, 1)),
                             control) == 0) {
                    cancelled = true;
                    stop = true;
                }
            }
        } catch (...) {
            const std::lock_guard lock(errorLock);
            if (!error)
                error = std::current_exception();
            stop = true;
        }
    };

    std::vector<std::thread> pool;
    const int64_t useful = (count + piece - 1) / piece;
    for (int i = 1; i < threads && i < useful; ++i) {
        try {
            pool.emplace_back(work, false);
        } catch (...) {
            break;  // fewer threads, same result
        }
    }
    work(true);
    for (auto& thread : pool)
        thread.join();
    if (error)
        std::rethrow_exception(error);
    return !cancelled;
}

}  // namespace imglib
